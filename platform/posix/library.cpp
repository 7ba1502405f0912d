#include "library.h"

#include <dlfcn.h>

namespace quill {

struct LoadedLibrary {
    void* handle;
};

const char* library_extension() { return ".so"; }
const char* installed_library_folder() { return "lib/quillodine/"; }

LoadedLibrary* library_load(const std::string& path) {
    // A path with a separator is loaded as named: the library is never picked up from elsewhere.
    if (path.find('/') == std::string::npos) return nullptr;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    return new LoadedLibrary{handle};
}

void* library_symbol(LoadedLibrary* library, const char* name) {
    if (!library) return nullptr;
    return ::dlsym(library->handle, name);
}

void library_free(LoadedLibrary* library) {
    if (!library) return;
    ::dlclose(library->handle);
    delete library;
}

}  // namespace quill
