#include "ui/ImageButton_win32.h"

#include <vector>

#include "ui/GrayBitmap.h"

namespace ui {

namespace {

const char kOwnerProp[] = "KrtImageButton";
// The button's procedure before ours; outlives the object when another subclass sits above ours.
const char kBaseProp[] = "KrtImageButtonBase";

typedef BOOL(WINAPI* TrackMouseEventFn)(LPTRACKMOUSEEVENT);

// Resolved once, by the first button: older systems lack the function and get the capture
// fallback instead.
TrackMouseEventFn g_trackMouseEvent = nullptr;
bool g_trackMouseEventResolved = false;

void ResolveTrackMouseEvent() {
    if (g_trackMouseEventResolved) return;
    g_trackMouseEventResolved = true;
    if (LoadLibraryA("user32.dll") == nullptr) return;
    HMODULE user32 = GetModuleHandleA("user32.DLL");
    if (user32 == nullptr) return;
    g_trackMouseEvent = reinterpret_cast<TrackMouseEventFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "TrackMouseEvent")));
}

void FillSolid(HDC dc, int x, int y, int cx, int cy, COLORREF colour) {
    SetBkColor(dc, colour);
    RECT r = {x, y, x + cx, y + cy};
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// One-pixel 3-D rectangle: `topLeft` along the top and left edges, `bottomRight` along the others.
void Draw3dRect(HDC dc, const RECT& r, COLORREF topLeft, COLORREF bottomRight) {
    const int cx = r.right - r.left, cy = r.bottom - r.top;
    const COLORREF saved = GetBkColor(dc);
    FillSolid(dc, r.left, r.top, cx - 1, 1, topLeft);
    FillSolid(dc, r.left, r.top, 1, cy - 1, topLeft);
    FillSolid(dc, r.left + cx - 1, r.top, 1, cy, bottomRight);
    FillSolid(dc, r.left, r.top + cy - 1, cx, 1, bottomRight);
    SetBkColor(dc, saved);
}

// A bitmap-info block with room for the largest colour table.
struct DibInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[DIB_MAX_COLOURS];
};

}  // namespace

HBITMAP MakeGrayBitmap(HDC dc, HBITMAP bitmap, const BITMAPINFOHEADER& header) {
    const uint32_t bits = header.biBitCount;
    std::vector<uint8_t> pixels(DibPixelSize(bits, header.biWidth, header.biHeight));
    DibInfo info = {};
    info.header = header;
    info.header.biCompression = DibReadCompression(header.biCompression);
    const UINT rows = static_cast<UINT>(header.biHeight < 0 ? -header.biHeight : header.biHeight);
    if (pixels.empty() || GetDIBits(dc, bitmap, 0, rows, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                                    DIB_RGB_COLORS) == 0) {
        // Unreadable pixels would make a black idle image; the colour one is the better fallback.
        return bitmap;
    }
    if (!MakeGrayPixels(bits, header.biWidth, header.biHeight, pixels.data(), pixels.size(),
                        reinterpret_cast<uint8_t*>(info.colours), DIB_MAX_COLOURS)) {
        return bitmap;
    }
    return CreateDIBitmap(dc, &header, CBM_INIT, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                          DIB_RGB_COLORS);
}

ImageButton::ImageButton() {
    ResolveTrackMouseEvent();
}

void ImageButton::DisableMouseTracking() {
    g_trackMouseEventResolved = true;
    g_trackMouseEvent = nullptr;
}

ImageButton::~ImageButton() {
    SetImage(0);
    Unsubclass();
}

bool ImageButton::SubclassDlgItem(HWND dialog, int id) {
    return Subclass(GetDlgItem(dialog, id));
}

bool ImageButton::Subclass(HWND button) {
    if (button == nullptr || baseProc_ != nullptr || GetPropA(button, kOwnerProp) != nullptr) return false;
    // The platform asks an owner-draw button's parent to draw it; the style must be in place
    // before the first paint through this object.
    SetWindowLongPtrA(button, GWL_STYLE, GetWindowLongPtrA(button, GWL_STYLE) | BS_OWNERDRAW);
    SetPropA(button, kOwnerProp, this);
    hwnd_ = button;
    baseProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ImageButton::SubclassProc)));
    SetPropA(button, kBaseProp, reinterpret_cast<HANDLE>(baseProc_));
    Redraw();
    return true;
}

void ImageButton::Unsubclass() {
    if (hwnd_ == nullptr) return;
    if (baseProc_ != nullptr && IsWindow(hwnd_)) {
        RemovePropA(hwnd_, kOwnerProp);
        // Put the old procedure back only if ours is still on top: overwriting a later subclass
        // (a tooltip's, say) would cut it off. Otherwise ours stays and passes everything on.
        if (GetWindowLongPtrA(hwnd_, GWLP_WNDPROC) ==
            reinterpret_cast<LONG_PTR>(&ImageButton::SubclassProc)) {
            SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(baseProc_));
            RemovePropA(hwnd_, kBaseProp);
        }
    }
    baseProc_ = nullptr;
    hwnd_ = nullptr;
}

bool ImageButton::SetImage(int id) {
    if (HotImage != nullptr) DestroyIcon(HotImage);
    if (IdleImage != nullptr) DestroyIcon(IdleImage);
    HotImage = nullptr;
    IdleImage = nullptr;
    if (id == 0) return true;

    ImageKind = DST_ICON;
    HotImage = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
    if (HotImage == nullptr) return false;

    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    ICONINFO icon = {};
    GetIconInfo(HotImage, &icon);
    // A zero bit count asks for the format only; the block has room for a colour table all the
    // same, so that no platform can write past it.
    DibInfo format = {};
    format.header.biSize = sizeof(BITMAPINFOHEADER);
    GetDIBits(dc, icon.hbmColor, 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(&format), DIB_RGB_COLORS);

    HBITMAP grey = MakeGrayBitmap(dc, icon.hbmColor, format.header);
    bool made = false;
    if (grey != nullptr || icon.hbmColor == nullptr) {
        ICONINFO idle = icon;
        idle.hbmColor = grey;
        IdleImage = CreateIconIndirect(&idle);
        made = IdleImage != nullptr;
    }
    // GetIconInfo hands out copies and CreateIconIndirect copies again: all of them are ours
    // to free, or every SetImage would leak three bitmaps.
    if (grey != nullptr && grey != icon.hbmColor) DeleteObject(grey);
    if (icon.hbmColor != nullptr) DeleteObject(icon.hbmColor);
    if (icon.hbmMask != nullptr) DeleteObject(icon.hbmMask);
    if (dc != nullptr) DeleteDC(dc);
    if (!made) return false;

    ImageWidth = format.header.biWidth;
    ImageHeight = format.header.biHeight;
    return true;
}

bool ImageButton::HandleDrawItem(LPARAM lParam) {
    const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item == nullptr || item->CtlType != ODT_BUTTON) return false;
    ImageButton* button = static_cast<ImageButton*>(GetPropA(item->hwndItem, kOwnerProp));
    if (button == nullptr) return false;
    button->DrawItem(*item);
    return true;
}

void ImageButton::DrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const UINT stateFlag = disabled ? DSS_DISABLED : 0;

    int x = (r.right - ImageWidth) / 2;
    int y = (r.bottom - ImageHeight) / 2;
    if (pressed) {
        ++x;
        ++y;
    }

    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));

    HICON image = (!MouseOver && IdleImage != nullptr) ? IdleImage : HotImage;
    if (image != nullptr) {
        DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(image), 0, x, y, ImageWidth, ImageHeight,
                   ImageKind | stateFlag);
    }

    if (pressed) {
        Draw3dRect(dc, r, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
    } else if (MouseOver && !disabled) {
        Draw3dRect(dc, r, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW));
    }
}

LRESULT CALLBACK ImageButton::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ImageButton* self = static_cast<ImageButton*>(GetPropA(hwnd, kOwnerProp));
    if (self != nullptr) return self->OnMessage(message, wParam, lParam);
    WNDPROC base = reinterpret_cast<WNDPROC>(GetPropA(hwnd, kBaseProp));
    if (base == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) RemovePropA(hwnd, kBaseProp);
    return CallWindowProcA(base, hwnd, message, wParam, lParam);
}

LRESULT ImageButton::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(baseProc_, hwnd_, message, wParam, lParam);
}

void ImageButton::Redraw() {
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void ImageButton::OnMouseMove(LPARAM lParam) {
    if (g_trackMouseEvent != nullptr) {
        if (!MouseOver) {
            TRACKMOUSEEVENT track = {sizeof(TRACKMOUSEEVENT), TME_LEAVE, hwnd_, 0};
            if (g_trackMouseEvent(&track)) {
                MouseOver = true;
                Redraw();
            }
        }
        return;
    }
    if (!MouseOver) {
        MouseOver = true;
        if (GetCapture() != hwnd_) SetCapture(hwnd_);
        Redraw();
    } else {
        POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT client = {};
        GetClientRect(hwnd_, &client);
        // Losing the capture (WM_CAPTURECHANGED) is what clears MouseOver.
        if (!PtInRect(&client, point) && GetCapture() == hwnd_) ReleaseCapture();
    }
}

LRESULT ImageButton::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_MOUSEMOVE:
            OnMouseMove(lParam);
            break;
        case WM_MOUSELEAVE:
            MouseOver = false;
            Redraw();
            return 0;
        case BM_SETSTYLE:
            // The dialog manager moves the default-button look from button to button by style;
            // the owner-draw type must survive that or the button would draw as a plain one.
            wParam = (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW;
            break;
        case WM_CAPTURECHANGED:
            if (g_trackMouseEvent == nullptr) {
                if (reinterpret_cast<HWND>(lParam) == hwnd_) return 0;
                MouseOver = false;
                Redraw();
            }
            break;
        case WM_NCDESTROY: {
            // The control dies before this object: give it back its procedure on the way out.
            WNDPROC base = baseProc_;
            HWND hwnd = hwnd_;
            Unsubclass();
            RemovePropA(hwnd, kBaseProp);
            return CallWindowProcA(base, hwnd, message, wParam, lParam);
        }
        default:
            break;
    }
    return Default(message, wParam, lParam);
}

}  // namespace ui
