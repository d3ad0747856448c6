#include "firmware/hex_image.h"

#include <QCoreApplication>

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

UpdateOutcome hexLoadOutcome(HexLoadError error, const HexPageProfile &profile, const char *translationContext)
{
    const QString text = withCapacity(QCoreApplication::translate(translationContext, sourceText(error)), error, profile);
    if (error == HexLoadError::NoFileName)
        return UpdateOutcome::failed(UpdateOutcome::Icon::Critical, QString(), text);
    const QString title = QCoreApplication::translate(translationContext, LoadErrorTitle);
    return UpdateOutcome::failed(isCritical(error, profile) ? UpdateOutcome::Icon::Critical : UpdateOutcome::Icon::Warning,
                                 title, text);
}
