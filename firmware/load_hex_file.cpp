#include "firmware/hex_image.h"

#include "app/show_message.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {

const char *const LoadErrorTitle = QT_TRANSLATE_NOOP("HexImage", "Load hex file error");

const char *sourceText(HexLoadError error)
{
    switch (error) {
    case HexLoadError::NoFileName: return "Please choose hex file";
    case HexLoadError::CannotOpen: return "File does not exist.";
    case HexLoadError::FormatError:
    case HexLoadError::NoData: return "File format error.";
    case HexLoadError::RecordError: return "unexpected format or checksum error";
    case HexLoadError::TooBig: return "Data size in hex file is bigger than %1";
    case HexLoadError::None: break;
    }
    return "";
}

QString withCapacity(QString text, HexLoadError error, const HexPageProfile &profile)
{
    return error == HexLoadError::TooBig ? text.arg(profile.capacity) : text;
}

bool isCritical(HexLoadError error, const HexPageProfile &profile)
{
    if (error == HexLoadError::CannotOpen)
        return profile.missingFileIsCritical;
    return error != HexLoadError::FormatError && error != HexLoadError::NoData;
}

} // namespace

QString hexLoadErrorText(HexLoadError error, const HexPageProfile &profile)
{
    return withCapacity(QString::fromLatin1(sourceText(error)), error, profile);
}

bool loadHexFile(QWidget *page, const char *translationContext, HexImage &hex,
                 const HexPageProfile &profile)
{
    const HexLoadError error = loadHexImage(hex, profile).error;
    if (error == HexLoadError::None)
        return true;
    const QString text = withCapacity(
        QCoreApplication::translate(translationContext, sourceText(error)), error, profile);
    if (error == HexLoadError::NoFileName) {
        showMessage(page, QMessageBox::Critical, text);
        return false;
    }
    const QString title = QCoreApplication::translate(translationContext, LoadErrorTitle);
    if (isCritical(error, profile))
        QMessageBox::critical(page, title, text, QMessageBox::Ok);
    else
        QMessageBox::warning(page, title, text, QMessageBox::Ok);
    return false;
}
