// Image descriptions and text colours from the skin's INI files.
#include "skin/skin_config.h"

#include <string>

namespace installer {

bool ReadImageInfo(const IProfileReader& ini, std::wstring_view section, SkinImageInfo* info) {
    *info = SkinImageInfo{};
    info->file_name = ini.GetString(section, L"FileName", L"").substr(0, kMaxSkinFileName);
    const int count = ini.GetInt(section, L"Count", 0);
    info->frame_count = count > 0 ? static_cast<uint32_t>(count) : 0;
    info->per_frame_margins = ini.GetInt(section, L"FrameDiff", 0) != 0;
    info->direction = ini.GetInt(section, L"Orientation", 0);
    if (info->file_name.empty()) {
        return false;
    }
    auto read_margins = [&](const std::wstring& suffix) {
        const int left = ini.GetInt(section, L"Left" + suffix, 0);
        const int top = ini.GetInt(section, L"Top" + suffix, 0);
        const int right = ini.GetInt(section, L"Right" + suffix, 0);
        const int bottom = ini.GetInt(section, L"Bottom" + suffix, 0);
        info->margins.push_back(SkinMargins{top, bottom, left, right});
    };
    if (info->per_frame_margins) {
        // An absurd "Count" must not read millions of keys: frames past the cap have no
        // margins entry and are not drawn.
        const int entries = count < kMaxPerFrameMargins ? count : kMaxPerFrameMargins;
        for (int i = 0; i < entries; ++i) {
            read_margins(std::to_wstring(i));
        }
    } else {
        read_margins(L"");
    }
    return true;
}

std::optional<SkinImageInfo> ResolveImageInfo(const IProfileReader& custom,
                                              const IProfileReader& base,
                                              std::wstring_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    SkinImageInfo info;
    if (ReadImageInfo(custom, name, &info) || ReadImageInfo(base, name, &info)) {
        return info;
    }
    return std::nullopt;
}

uint32_t ReadTextColor(const IProfileReader& controls, std::wstring_view class_name) {
    return MakeColorRef(controls.GetInt(class_name, L"DeftextR", 255), controls.GetInt(class_name, L"DeftextG", 0),
                        controls.GetInt(class_name, L"DeftextB", 0));
}

}  // namespace installer
