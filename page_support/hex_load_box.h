#pragma once

#include "firmware/hex_image.h"

class QWidget;

// The page's loadHexFile: loads, and on failure shows the one message box of the failure with
// the page as parent; the texts are translated in the page's class context. True on success.
bool loadHexFile(QWidget *page, const char *translationContext, HexImage &hex, const HexPageProfile &profile);
