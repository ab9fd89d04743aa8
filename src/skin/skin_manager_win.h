// The skin of the process: the folder "skin\Default\" beside the executable with the default
// skin built into the executable behind it (file by file), images loaded on first request
// and kept by name, and control text colours from "controls.ini".
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "skin/gdiplus_win.h"
#include "skin/skin_files_win.h"
#include "skin/skin_image_win.h"

namespace installer {

class CSkinManager {
  public:
    CSkinManager();
    ~CSkinManager();
    CSkinManager(const CSkinManager&) = delete;
    CSkinManager& operator=(const CSkinManager&) = delete;

    // "<folder of the executable>\skin\Default\"; never fails (an unreadable module path
    // gives "\skin\Default\", where nothing is found).
    std::wstring GetSkinFolder() const;

    // The skin's files: the folder, and behind it the skin built into the executable
    // (none in programs that carry no skin resources).
    SkinFiles Files() const;

    // The image called `name` (also its section in the INI files), loaded on first
    // request and kept until the process ends; names are case-sensitive. Null when the
    // name is empty, no INI file describes it, or it cannot be decoded (then the next
    // request tries again). The manager owns the image.
    CSkinImage* GetImage(const std::wstring& name);

    // Text colour (COLORREF) of a control class; red when the skin does not say.
    COLORREF GetTextColor(const std::wstring& class_name);

    // Draws frame `frame` of image `name` into `dest` at `dpi` (see DrawImageFrame).
    // Returns false and draws nothing when the image is missing or cannot be drawn.
    bool DrawImage(HDC dc,
                   const std::wstring& name,
                   const RECT& dest,
                   int frame = 0,
                   const RECT* source = nullptr,
                   BYTE alpha = 255,
                   int dpi = kBaseDpi);

  private:
    CGDIPlus gdiplus_;  // first member: GDI+ outlives the images
    std::map<std::wstring, std::unique_ptr<CSkinImage>> images_;
    std::wstring skin_name_;
    std::map<std::wstring, COLORREF> text_colors_;
};

// The one skin manager of the process, made on first use and destroyed at exit.
CSkinManager& TheSkinManager();

}  // namespace installer
