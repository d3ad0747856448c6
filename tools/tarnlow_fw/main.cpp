// tarnlow-fw: makes and inspects the encrypted firmware files the pages load.
#include "tools/tarnlow_fw/firmware_commands.h"

#include <QString>
#include <QtGlobal>

#include <iostream>
#include <string>
#include <vector>

namespace {

const char *const Usage =
    "usage: tarnlow-fw encrypt IN.hex OUT.HEX [--header \"0702, V1, X=FALSE\"]\n"
    "       tarnlow-fw decrypt IN.HEX\n"
    "       tarnlow-fw info --page coupler|module|canopen FILE\n";

int usage()
{
    std::cerr << Usage;
    return 2;
}

// The loader writes the vector checksum to the debug log; the tool prints it itself.
void quietDebugLog(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::cerr << message.toStdString() << std::endl;
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quietDebugLog);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "encrypt")
        return FirmwareCommands::encrypt(args[1], args[2], nullptr);
    if (args.size() == 5 && args[0] == "encrypt" && args[3] == "--header")
        return FirmwareCommands::encrypt(args[1], args[2], &args[4]);
    if (args.size() == 2 && args[0] == "decrypt")
        return FirmwareCommands::decrypt(args[1]);
    if (args.size() == 4 && args[0] == "info" && args[1] == "--page")
        return FirmwareCommands::info(args[2], args[3]);
    return usage();
}
