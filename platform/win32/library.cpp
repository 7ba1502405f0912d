#include "library.h"

#include <windows.h>

namespace quill {

struct LoadedLibrary {
    HMODULE handle;
};

const char* library_extension() { return ".dll"; }
const char* installed_library_folder() { return ""; }

LoadedLibrary* library_load(const std::string& path) {
    // Only a path with a folder is loaded, so the library is never picked up from the search path;
    // its own dependencies are looked for beside it first.
    if (path.find_first_of("\\/") == std::string::npos) return nullptr;
    // A damaged or foreign library must fail quietly, not with a system message box.
    const UINT saved_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE handle = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetErrorMode(saved_mode);
    if (!handle) return nullptr;
    return new LoadedLibrary{handle};
}

void* library_symbol(LoadedLibrary* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(library->handle, name));
}

void library_free(LoadedLibrary* library) {
    if (!library) return;
    FreeLibrary(library->handle);
    delete library;
}

}  // namespace quill
