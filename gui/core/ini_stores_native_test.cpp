#include "ini_file.h"
#include "test_support.h"

namespace quill::gui::testing {

std::vector<StoreFactory> ini_stores_under_test() {
    return {StoreFactory{"IniFile", [](const std::string& p) -> std::unique_ptr<IniStore> {
                             return std::make_unique<IniFile>(p);
                         }}};
}

}  // namespace quill::gui::testing
