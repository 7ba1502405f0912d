// drop_hook.dll: lets gui_probe drop files on a window of another process. A drop handle is
// process memory, so the probe cannot make one for the front end; this hook runs inside the
// front end's thread, makes the handle there the way the shell does (GlobalAlloc of a DROPFILES
// block) and posts WM_DROPFILES to the window.
//
// The probe puts the DROPFILES block in the shared memory kDropBlockName, installs the hook on the
// window's thread and posts kDropMessage to the window with the block's size; the hook signals
// kDropDoneName once it has posted the drop.
#include <windows.h>

#include <cstring>

#include "drop_hook.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK drop_hook_proc(int code, WPARAM wparam, LPARAM lparam) {
    static const UINT drop_message = RegisterWindowMessageW(kDropMessage);
    MSG* msg = reinterpret_cast<MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE && msg->message == drop_message) {
        const SIZE_T size = msg->wParam;
        HANDLE shared = OpenFileMappingW(FILE_MAP_READ, FALSE, kDropBlockName);
        const void* block = shared ? MapViewOfFile(shared, FILE_MAP_READ, 0, 0, size) : nullptr;
        HGLOBAL drop = block ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size) : nullptr;
        if (void* bytes = drop ? GlobalLock(drop) : nullptr) {
            std::memcpy(bytes, block, size);
            GlobalUnlock(drop);
            // The receiver frees the handle with DragFinish.
            if (!PostMessageW(msg->hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0)) GlobalFree(drop);
        } else if (drop) {
            GlobalFree(drop);
        }
        if (block) UnmapViewOfFile(block);
        if (shared) CloseHandle(shared);
        if (HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, kDropDoneName)) {
            SetEvent(done);
            CloseHandle(done);
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}
