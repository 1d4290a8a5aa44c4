// An image list, released with its object.
#pragma once

#include <windows.h>

#include <commctrl.h>

namespace fw {

class ImageList {
  public:
    ImageList() = default;
    ~ImageList() { Destroy(); }
    ImageList(const ImageList&) = delete;
    ImageList& operator=(const ImageList&) = delete;

    // Images of `width` pixels cut from bitmap resource `bitmapId`; `mask` is the transparent colour.
    bool CreateFromBitmap(int bitmapId, int width, COLORREF mask);
    COLORREF SetBackground(COLORREF colour) const { return ImageList_SetBkColor(list_, colour); }
    int Count() const { return list_ ? ImageList_GetImageCount(list_) : 0; }
    HIMAGELIST Handle() const { return list_; }
    void Destroy();

  private:
    HIMAGELIST list_ = nullptr;
};

}  // namespace fw
