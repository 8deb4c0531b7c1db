// The progress window's off-screen buffer.
#pragma once
#include "framework/Image.h"

/// A plain image; its own type keeps the buffer apart from the decoded skin images.
class CBitImage : public kvo::CImage {
public:
    CBitImage() = default;
    ~CBitImage() override = default;
};
