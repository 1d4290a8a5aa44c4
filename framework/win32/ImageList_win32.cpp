#include "framework/win32/ImageList_win32.h"

#include "framework/win32/App_win32.h"

namespace fw {

bool ImageList::CreateFromBitmap(int bitmapId, int width, COLORREF mask) {
    Destroy();
    list_ = ImageList_LoadImageA(App::InstanceHandle(), MAKEINTRESOURCEA(bitmapId), width, 1, mask,
                                 IMAGE_BITMAP, LR_CREATEDIBSECTION);
    return list_ != nullptr;
}

void ImageList::Destroy() {
    if (list_) ImageList_Destroy(list_);
    list_ = nullptr;
}

}  // namespace fw
