#include "system/ShellLink.h"

namespace {

constexpr int kTextBufferSize = MAX_PATH;

// The persistence interface wants UTF-16 paths; false if path does not fit.
bool ToWide(const Text& path, WCHAR (&wide)[MAX_PATH]) {
    return MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) != 0;
}

}  // namespace

ShellLink::ShellLink() {
    // Every holder initialises COM again; an already initialised thread
    // answers S_FALSE, which is fine.
    CoInitialize(nullptr);
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                link_.ReceiveVoid()))) {
        link_.Release();
        return;
    }
    if (FAILED(link_->QueryInterface(IID_IPersistFile, file_.ReceiveVoid()))) file_.Release();
}

bool ShellLink::SetPath(const Text& path) {
    return link_ && SUCCEEDED(link_->SetPath(path.c_str()));
}

Text ShellLink::GetPath(DWORD flags, WIN32_FIND_DATAA* findData) {
    char buffer[kTextBufferSize] = "";
    if (!link_ || FAILED(link_->GetPath(buffer, kTextBufferSize, findData, flags))) return Text();
    return Text(buffer);
}

bool ShellLink::SetArguments(const Text& args) {
    return link_ && SUCCEEDED(link_->SetArguments(args.c_str()));
}

Text ShellLink::GetArguments() {
    char buffer[kTextBufferSize] = "";
    if (!link_ || FAILED(link_->GetArguments(buffer, kTextBufferSize))) return Text();
    return Text(buffer);
}

bool ShellLink::SetDescription(const Text& description) {
    return link_ && SUCCEEDED(link_->SetDescription(description.c_str()));
}

Text ShellLink::GetDescription() {
    char buffer[kTextBufferSize] = "";
    if (!link_ || FAILED(link_->GetDescription(buffer, kTextBufferSize))) return Text();
    return Text(buffer);
}

bool ShellLink::SetWorkingDirectory(const Text& folder) {
    return link_ && SUCCEEDED(link_->SetWorkingDirectory(folder.c_str()));
}

Text ShellLink::GetWorkingDirectory() {
    char buffer[kTextBufferSize] = "";
    if (!link_ || FAILED(link_->GetWorkingDirectory(buffer, kTextBufferSize))) return Text();
    return Text(buffer);
}

bool ShellLink::SetIconLocation(const Text& iconFile, int iconIndex) {
    return link_ && SUCCEEDED(link_->SetIconLocation(iconFile.c_str(), iconIndex));
}

Text ShellLink::GetIconLocation(int* iconIndex) {
    char buffer[kTextBufferSize] = "";
    int index = 0;
    bool ok = link_ && SUCCEEDED(link_->GetIconLocation(buffer, kTextBufferSize, &index));
    if (iconIndex) *iconIndex = ok ? index : 0;
    return ok ? Text(buffer) : Text();
}

bool ShellLink::SetHotkey(WORD hotkey) { return link_ && SUCCEEDED(link_->SetHotkey(hotkey)); }

WORD ShellLink::GetHotkey() {
    WORD hotkey = 0;
    if (!link_ || FAILED(link_->GetHotkey(&hotkey))) return 0;
    return hotkey;
}

bool ShellLink::SetShowCmd(int showCmd) { return link_ && SUCCEEDED(link_->SetShowCmd(showCmd)); }

int ShellLink::GetShowCmd() {
    int showCmd = 0;
    if (!link_ || FAILED(link_->GetShowCmd(&showCmd))) return 0;
    return showCmd;
}

bool ShellLink::SetIDList(LPCITEMIDLIST idList) {
    return link_ && SUCCEEDED(link_->SetIDList(idList));
}

bool ShellLink::GetIDList(LPITEMIDLIST* idList) {
    return link_ && SUCCEEDED(link_->GetIDList(idList));
}

bool ShellLink::SetRelativePath(const Text& relativeTo) {
    return link_ && SUCCEEDED(link_->SetRelativePath(relativeTo.c_str(), 0));
}

bool ShellLink::Resolve(HWND window, DWORD flags) {
    return link_ && SUCCEEDED(link_->Resolve(window, flags));
}

bool ShellLink::Save(const Text& path) {
    if (!file_ || FAILED(file_->IsDirty())) return false;
    WCHAR wide[MAX_PATH];
    if (!ToWide(path, wide)) return false;
    return SUCCEEDED(file_->Save(wide, TRUE));
}

bool ShellLink::Save() {
    if (!file_ || FAILED(file_->IsDirty())) return false;
    return SUCCEEDED(file_->Save(nullptr, TRUE));
}

bool ShellLink::Load(const Text& path) {
    if (!file_) return false;
    WCHAR wide[MAX_PATH];
    if (!ToWide(path, wide)) return false;
    return SUCCEEDED(file_->Load(wide, STGM_READ));
}
