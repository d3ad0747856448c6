#include "page_support/hex_load_box.h"

#include "page_support/show_message.h"

bool loadHexFile(QWidget *page, const char *translationContext, HexImage &hex, const HexPageProfile &profile)
{
    const HexLoadError error = loadHexImage(hex, profile).error;
    if (error == HexLoadError::None)
        return true;
    showOutcome(page, hexLoadOutcome(error, profile, translationContext));
    return false;
}
