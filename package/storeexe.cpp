#include "package/storeexe.h"

#include <QBuffer>
#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

namespace {

// Assembled byte by byte: the fields are not aligned, and the host's byte order must not matter.
std::uint32_t ReadLittleEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint16_t ReadLittleEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Wraps stored bytes without copying them; the buffer only reads.
class TStoredBytesDevice {
public:
    TStoredBytesDevice(const void* data, std::int64_t size)
        : FBytes(QByteArray::fromRawData(static_cast<const char*>(data),
                                         static_cast<qsizetype>(size > 0 ? size : 0))),
          FBuffer(&FBytes) {
        FBuffer.open(QIODevice::ReadOnly);
    }

    QBuffer* Device() { return &FBuffer; }

private:
    QByteArray FBytes;
    QBuffer FBuffer;
};

[[noreturn]] void RaiseReaderError(const QImageReader& reader) {
    throw Exception(reader.errorString().toStdString());
}

} // namespace

std::uint32_t PayloadChecksum(const std::uint8_t* payload) {
    std::uint32_t sum = PackageLayout::ChecksumStart;
    for (std::size_t i = 0; i < PackageLayout::PayloadSize; ++i)
        sum += payload[i];
    return sum;
}

const std::uint8_t* ValidateStoredData(const std::uint8_t* block) {
    const std::uint8_t* payload = block + PackageLayout::PayloadOffset;
    if (PayloadChecksum(payload) != ReadLittleEndian32(block + PackageLayout::ChecksumOffset))
        throw EStoredDataError("Stored data is not valid");
    return payload;
}

std::uint32_t TExeProgrammingInfo::U32(std::size_t offset) const {
    return ReadLittleEndian32(FPayload + offset);
}

std::string TExeProgrammingInfo::TextField(std::size_t offset) const {
    return ReadFixedString(FPayload + offset, PackageLayout::TextFieldSize);
}

std::uint32_t TExeProgrammingInfo::StructureVersion() const {
    return U32(PackageLayout::StructureVersion);
}

void TExeProgrammingInfo::CheckVersion() const {
    if (StructureVersion() != PackageLayout::CurrentStructureVersion)
        throw Exception("Structure version does not match");
    CheckImageLength();
}

void TExeProgrammingInfo::CheckImageLength() const {
    if (ImageLength() > PackageLayout::ImageSlotSize)
        throw EStoredDataError("Stored image is larger than its slot");
}

std::string TExeProgrammingInfo::ReadFixedString(const std::uint8_t* field, int size) {
    std::string text;
    for (int i = 0; i < size && field[i] != 0; ++i)
        text.push_back(static_cast<char>(field[i]));
    return text;
}

std::string TExeProgrammingInfo::ModelCode() const {
    return TextField(PackageLayout::ModelCode);
}
std::string TExeProgrammingInfo::ImageTitle() const {
    return TextField(PackageLayout::ImageTitle);
}
std::string TExeProgrammingInfo::BootConnect() const {
    return TextField(PackageLayout::BootConnect);
}
std::string TExeProgrammingInfo::UserConnect() const {
    return TextField(PackageLayout::UserConnect);
}
std::string TExeProgrammingInfo::ConnectResponse() const {
    return TextField(PackageLayout::ConnectResponse);
}

std::uint32_t TExeProgrammingInfo::FlashStart() const {
    return U32(PackageLayout::FlashStart);
}
std::uint32_t TExeProgrammingInfo::FlashLength() const {
    return U32(PackageLayout::FlashLength);
}
std::uint32_t TExeProgrammingInfo::ImageLength() const {
    return U32(PackageLayout::ImageLength);
}
std::uint32_t TExeProgrammingInfo::FlashBlockSize() const {
    return U32(PackageLayout::FlashBlockSize);
}
std::uint16_t TExeProgrammingInfo::FlashCheckSeed() const {
    return ReadLittleEndian16(FPayload + PackageLayout::FlashCheckSeed);
}
std::uint8_t TExeProgrammingInfo::FlashVerification() const {
    return FPayload[PackageLayout::FlashVerification];
}
std::uint8_t TExeProgrammingInfo::PictureType() const {
    return FPayload[PackageLayout::PictureType];
}

void TExeProgrammingInfo::LoadGraphic(const void* data, std::int64_t size, QImage& image,
                                      const char* format) {
    TStoredBytesDevice bytes(data, size);
    QImageReader reader(bytes.Device(), format);
    // The stored type decides; a file of another kind in the slot is an error.
    reader.setAutoDetectImageFormat(false);
    QImage loaded;
    if (!reader.read(&loaded))
        RaiseReaderError(reader);
    image = std::move(loaded);
}

void TExeProgrammingInfo::LoadGraphic(const void* data, std::int64_t size, QIcon& icon) {
    TStoredBytesDevice bytes(data, size);
    QImageReader reader(bytes.Device(), "ico");
    reader.setAutoDetectImageFormat(false);
    QIcon loaded;
    do {
        QImage image;
        if (!reader.read(&image))
            RaiseReaderError(reader);
        loaded.addPixmap(QPixmap::fromImage(image));
    } while (reader.jumpToNextImage());
    icon = std::move(loaded);
}

void TExeProgrammingInfo::LoadLogo(QIcon& icon) const {
    LoadGraphic(FPayload + PackageLayout::LogoSlot, PackageLayout::LogoSlotSize, icon);
}

void TExeProgrammingInfo::LoadPicture(QImage& picture) const {
    const char* format = nullptr;
    switch (PictureType()) {
    case PackageLayout::PictureBitmap:
        format = "bmp";
        break;
    case PackageLayout::PictureJpeg:
        format = "jpeg";
        break;
    default:
        throw Exception("Image type not supported");
    }
    LoadGraphic(FPayload + PackageLayout::PictureSlot, PackageLayout::PictureSlotSize, picture,
                format);
}

void TExeProgrammingInfo::GetWizardText(std::vector<std::string>& lines) const {
    const std::string text =
        ReadFixedString(FPayload + PackageLayout::WizardText, PackageLayout::WizardTextSize);
    lines.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
}
