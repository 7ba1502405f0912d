// Names shared by gui_probe and drop_hook.dll (see drop_hook.cpp).
#pragma once

inline constexpr wchar_t kDropMessage[] = L"QuillodineProbeDrop";
inline constexpr wchar_t kDropBlockName[] = L"QuillodineProbeDropBlock";
inline constexpr wchar_t kDropDoneName[] = L"QuillodineProbeDropDone";
