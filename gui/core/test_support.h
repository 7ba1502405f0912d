// Helpers shared by the gui/core tests.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ini_store.h"

namespace quill::gui::testing {

// An INI store under test, made over the file at `path`.
struct StoreFactory {
    const char* name;
    std::function<std::unique_ptr<IniStore>(const std::string& path)> make;
};

inline void PrintTo(const StoreFactory& f, std::ostream* os) { *os << f.name; }

// Every INI store of this build: our own IniFile, and on Windows the private-profile store too.
std::vector<StoreFactory> ini_stores_under_test();

// A fresh, empty directory for one test, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

}  // namespace quill::gui::testing
