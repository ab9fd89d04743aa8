// The process's skin: folder, image table and text colour table.
#include "skin/skin_manager_win.h"

#include "skin/skin_config.h"
#include "win/module_path_win.h"

namespace installer {

CSkinManager::CSkinManager() : skin_name_(L"Default") {}

CSkinManager::~CSkinManager() = default;

std::wstring CSkinManager::GetSkinFolder() const {
    return win::ExecutableFolder() + L"\\skin\\" + skin_name_ + L"\\";
}

SkinFiles CSkinManager::Files() const {
    return SkinFiles(GetSkinFolder(), ::GetModuleHandleW(nullptr));
}

CSkinImage* CSkinManager::GetImage(const std::wstring& name) {
    if (name.empty()) {
        return nullptr;
    }
    if (auto found = images_.find(name); found != images_.end()) {
        return found->second.get();
    }
    const SkinFiles files = Files();
    const std::unique_ptr<IProfileReader> custom = files.OpenIni(L"skin_custom.ini");
    const std::unique_ptr<IProfileReader> base = files.OpenIni(L"skin.ini");
    const std::optional<SkinImageInfo> info = ResolveImageInfo(*custom, *base, name);
    if (!info) {
        return nullptr;
    }
    auto image = std::make_unique<CSkinImage>();
    if (!image->Load(*info, files)) {
        return nullptr;
    }
    CSkinImage* result = image.get();
    images_.emplace(name, std::move(image));
    return result;
}

COLORREF CSkinManager::GetTextColor(const std::wstring& class_name) {
    if (auto found = text_colors_.find(class_name); found != text_colors_.end()) {
        return found->second;
    }
    const COLORREF color = ReadTextColor(*Files().OpenIni(L"controls.ini"), class_name);
    text_colors_.emplace(class_name, color);
    return color;
}

bool CSkinManager::DrawImage(HDC dc,
                             const std::wstring& name,
                             const RECT& dest,
                             int frame,
                             const RECT* source,
                             BYTE alpha,
                             int dpi) {
    CSkinImage* image = GetImage(name);
    if (image == nullptr) {
        return false;
    }
    return DrawImageFrame(dc, image, dest, frame, source, alpha, dpi);
}

CSkinManager& TheSkinManager() {
    static CSkinManager manager;
    return manager;
}

}  // namespace installer
