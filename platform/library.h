// Loading an outside library at run time and finding its exports by name.
#pragma once
#include <string>

namespace quill {

struct LoadedLibrary;  // opaque; one per loaded library

// The file name extension of loadable libraries on this system (".so", ".dll").
const char* library_extension();
// Where an installed program keeps the libraries it loads, relative to the folder above the
// executable's: "lib/quillodine/" on POSIX (<prefix>/bin/Quillodine looks in <prefix>/lib/quillodine/,
// so that a package never puts a library into bin/); empty on Windows, where they sit beside it.
const char* installed_library_folder();
// Loads the library at exactly `path` (no search path); nullptr when it cannot be loaded.
LoadedLibrary* library_load(const std::string& path);
// Address of the export `name`; nullptr when the library has none.
void* library_symbol(LoadedLibrary* library, const char* name);
// Unloads the library; nullptr is allowed.
void library_free(LoadedLibrary* library);

}  // namespace quill
