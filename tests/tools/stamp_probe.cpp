// A small program that links the package library and runs the program's own start-up checks on
// its block, then prints every field as "name=value" lines. Stamped by the tests with
// daltoven-pack, it shows what a release program reads back.

#include "package/block.h"
#include "package/storeexe.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string HexBytes(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < size; ++i) {
        hex.push_back(digits[bytes[i] >> 4]);
        hex.push_back(digits[bytes[i] & 15]);
    }
    return hex;
}

std::string Size(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    try {
        const TExeProgrammingInfo info(ValidateStoredData(PackageBlock()));
        info.CheckVersion();
        std::cout << "title=" << info.ImageTitle() << '\n'
                  << "model=" << info.ModelCode() << '\n'
                  << "flash_start=" << info.FlashStart() << '\n'
                  << "flash_length=" << info.FlashLength() << '\n'
                  << "block_size=" << info.FlashBlockSize() << '\n'
                  << "check_seed=" << info.FlashCheckSeed() << '\n'
                  << "verification=" << int(info.FlashVerification()) << '\n'
                  << "com_connect=" << HexBytes(info.ComConnectRecord(), 16) << '\n'
                  << "com_program=" << HexBytes(info.ComProgramRecord(), 16) << '\n'
                  << "boot=" << info.BootConnect() << '\n'
                  << "user=" << info.UserConnect() << '\n'
                  << "response=" << info.ConnectResponse() << '\n'
                  << "image=" << HexBytes(info.ImageData(), info.ImageLength()) << '\n'
                  << "picture_type=" << int(info.PictureType()) << '\n';
        QIcon icon;
        info.LoadLogo(icon);
        std::cout << "icon=";
        for (const QSize& size : icon.availableSizes())
            std::cout << Size(size.width(), size.height()) << ' ';
        QImage picture;
        info.LoadPicture(picture);
        std::cout << "\npicture=" << Size(picture.width(), picture.height()) << '\n';
        std::vector<std::string> lines;
        info.GetWizardText(lines);
        for (const std::string& line : lines)
            std::cout << "line=" << line << '\n';
    } catch (const Exception& e) {
        std::cout << "error=" << e.Message() << '\n';
        return 1;
    }
    return 0;
}
