#include "tools/pack/manifest.h"

#include "package/layout.h"
#include "package/release_file.h"
#include "package/storeexe.h"
#include "platform/exceptions.h"
#include "serial/hex.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <optional>
#include <set>

namespace {

namespace L = PackageLayout;

// The image goes to the unit in transfer blocks of this size; the run refuses anything else.
constexpr std::size_t KTransferBlockSize = 128;
// The connection wizard shows this many instruction lines.
constexpr int KWizardLines = 20;

struct TField {
    const char* Section;
    const char* Key;

    std::string Name() const { return std::string("[") + Section + "] " + Key; }
    QString SettingsKey() const { return QString::fromLatin1(Section) + '/' + Key; }
};

constexpr TField KTitle{"release", "title"}, KModel{"release", "model"};
constexpr TField KStart{"flash", "start"}, KLength{"flash", "length"},
    KBlockSize{"flash", "block_size"}, KCheckSeed{"flash", "check_seed"},
    KVerification{"flash", "verification"};
constexpr TField KSerialConnect{"serial", "connect"}, KSerialProgram{"serial", "program"};
constexpr TField KBoot{"connect", "boot"}, KUser{"connect", "user"},
    KResponse{"connect", "response"};
constexpr TField KImage{"files", "image"}, KIcon{"files", "icon"}, KPicture{"files", "picture"},
    KInstructions{"files", "instructions"};
constexpr TField KAllFields[] = {KTitle,         KModel,     KStart,        KLength,
                                 KBlockSize,     KCheckSeed, KVerification, KSerialConnect,
                                 KSerialProgram, KBoot,      KUser,         KResponse,
                                 KImage,         KIcon,      KPicture,      KInstructions};

class TManifestReader {
public:
    explicit TManifestReader(const std::string& path)
        : FPath(path), FSettings(QString::fromStdString(path), QSettings::IniFormat),
          FDir(QFileInfo(QString::fromStdString(path)).absoluteDir()) {}

    [[noreturn]] void Fail(const TField& field, const std::string& reason) const {
        throw Exception(FPath + ": " + field.Name() + ": " + reason);
    }
    [[noreturn]] void FailFile(const TField& field, const std::string& file,
                               const std::string& reason) const {
        throw Exception(file + ": " + field.Name() + ": " + reason);
    }

    void CheckReadable() const {
        ReadWholeFile(FPath); // names the file when it is missing or unreadable
        if (FSettings.status() != QSettings::NoError)
            throw Exception(FPath + ": not a readable INI file");
        for (const QString& key : FSettings.allKeys()) {
            const bool known = std::any_of(std::begin(KAllFields), std::end(KAllFields),
                                           [&](const TField& f) { return f.SettingsKey() == key; });
            if (!known)
                throw Exception(FPath + ": [" + key.section('/', 0, 0).toStdString() + "] " +
                                key.section('/', 1).toStdString() + ": unknown field");
        }
    }

    // The value as one text. QSettings splits an unquoted value at its commas; a text field
    // must not be changed behind the user's back, so such a value is refused.
    std::optional<QString> Value(const TField& field, bool listAllowed = false) const {
        const QVariant value = FSettings.value(field.SettingsKey());
        if (!value.isValid())
            return std::nullopt;
        if (value.typeId() == QMetaType::QStringList) {
            if (!listAllowed)
                Fail(field, "holds a comma: put the whole value in double quotes");
            return value.toStringList().join(',');
        }
        return value.toString();
    }

    std::string Latin1Text(const TField& field, std::size_t limit, const std::string& fallback) {
        const std::optional<QString> value = Value(field);
        if (!value)
            return fallback;
        if (std::any_of(value->begin(), value->end(), [](QChar c) { return c.unicode() > 0xFF; }))
            Fail(field, "holds characters outside Latin-1");
        const std::string text = value->toLatin1().toStdString();
        if (text.size() > limit)
            Fail(field, std::to_string(text.size()) + " bytes, more than the " +
                            std::to_string(limit) + " the field holds");
        return text;
    }

    std::string ConnectString(const TField& field, const char* fallback) {
        const std::string text = Latin1Text(field, L::TextFieldSize, fallback);
        try {
            DecodeEscapes(text);
        } catch (const Exception& e) {
            Fail(field, "\"" + text + "\": " + e.Message());
        }
        return text;
    }

    std::uint32_t Number(const TField& field, std::uint64_t maximum, std::uint32_t fallback,
                         bool required = false) {
        const std::optional<QString> value = Value(field);
        if (!value) {
            if (required)
                Fail(field, "missing");
            return fallback;
        }
        const QString text = value->trimmed();
        const bool hex = text.startsWith("0x", Qt::CaseInsensitive);
        bool ok = false;
        const qulonglong number =
            hex ? text.mid(2).toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
        if (!ok || text.contains('+') || text.contains('-'))
            Fail(field, "not a number: \"" + value->toStdString() + "\" (decimal or 0x hex)");
        if (number > maximum)
            Fail(field, text.toStdString() + " is larger than " + std::to_string(maximum));
        return static_cast<std::uint32_t>(number);
    }

    TSerialSettings Serial(const TField& field) {
        const std::optional<QString> value = Value(field, true);
        if (!value)
            return TSerialSettings{};
        try {
            return ParseSerialSettings(value->toStdString());
        } catch (const Exception& e) {
            Fail(field, e.Message());
        }
    }

    // The named file's bytes, or nothing when the field is left out.
    std::optional<std::vector<std::uint8_t>> File(const TField& field, std::size_t limit,
                                                  bool required = false) {
        const std::optional<QString> value = Value(field);
        if (!value || value->isEmpty()) {
            if (required)
                Fail(field, "missing");
            return std::nullopt;
        }
        const std::string path = QDir::cleanPath(FDir.filePath(*value)).toStdString();
        FInputs.push_back(path);
        std::vector<std::uint8_t> bytes;
        try {
            bytes = ReadWholeFile(path);
        } catch (const Exception& e) {
            Fail(field, e.Message());
        }
        if (bytes.size() > limit)
            FailFile(field, path,
                     std::to_string(bytes.size()) + " bytes, more than the " +
                         std::to_string(limit) + "-byte slot");
        FLastFile = path;
        return bytes;
    }

    const std::string& LastFile() const { return FLastFile; }
    const std::string& Path() const { return FPath; }
    std::vector<std::string> Inputs() const { return FInputs; }

private:
    std::string FPath;
    QSettings FSettings;
    QDir FDir;
    std::vector<std::string> FInputs;
    std::string FLastFile;
};

void ReadFlash(TManifestReader& r, TPackageContents& c) {
    c.FlashStart = r.Number(KStart, 0xFFFFFFFF, 0, true);
    c.FlashLength = r.Number(KLength, 0xFFFFFFFF, 0, true);
    if (std::uint64_t(c.FlashStart) + c.FlashLength > 0x100000000ull)
        r.Fail(KLength, "the flash region runs past the end of the 32-bit address space");
    c.FlashBlockSize = r.Number(KBlockSize, 0xFFFFFFFF, 0);
    c.FlashCheckSeed = static_cast<std::uint16_t>(r.Number(KCheckSeed, 0xFFFF, 0));
    c.FlashVerification = static_cast<std::uint8_t>(r.Number(KVerification, 0xFF, 0));
}

void ReadImage(TManifestReader& r, TPackageContents& c) {
    c.Image = *r.File(KImage, L::ImageSlotSize, true);
    const std::string& path = r.LastFile();
    if (c.Image.empty())
        r.FailFile(KImage, path, "the image is empty");
    if (c.Image.size() % KTransferBlockSize != 0)
        r.FailFile(KImage, path,
                   std::to_string(c.Image.size()) + " bytes, not a whole number of " +
                       std::to_string(KTransferBlockSize) + "-byte blocks");
    if (c.Image.size() > c.FlashLength)
        r.FailFile(KImage, path,
                   std::to_string(c.Image.size()) + " bytes, longer than the flash region");
}

void ReadIcon(TManifestReader& r, TPackageContents& c) {
    const auto icon = r.File(KIcon, L::LogoSlotSize);
    if (!icon)
        return;
    const std::vector<std::uint8_t>& b = *icon;
    // An icon directory: reserved 0, type 1 (icon), at least one image.
    const bool iconHeader = b.size() >= 6 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0 &&
                            (b[4] != 0 || b[5] != 0);
    if (!iconHeader)
        r.FailFile(KIcon, r.LastFile(), "not a Windows icon file");
    try {
        QImage image;
        TExeProgrammingInfo::LoadGraphic(b.data(), static_cast<std::int64_t>(b.size()), image,
                                         "ico");
    } catch (const Exception& e) {
        r.FailFile(KIcon, r.LastFile(), "the icon cannot be read: " + e.Message());
    }
    c.Icon = b;
}

void ReadPicture(TManifestReader& r, TPackageContents& c) {
    const auto picture = r.File(KPicture, L::PictureSlotSize);
    if (!picture)
        return;
    const std::vector<std::uint8_t>& b = *picture;
    const char* format = nullptr;
    if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') {
        c.PictureType = L::PictureBitmap;
        format = "bmp";
    } else if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xD8) {
        c.PictureType = L::PictureJpeg;
        format = "jpeg";
    } else {
        r.FailFile(KPicture, r.LastFile(), "neither a Windows bitmap nor a JPEG file");
    }
    try {
        QImage image;
        TExeProgrammingInfo::LoadGraphic(b.data(), static_cast<std::int64_t>(b.size()), image,
                                         format);
    } catch (const Exception& e) {
        r.FailFile(KPicture, r.LastFile(), "the picture cannot be read: " + e.Message());
    }
    c.Picture = b;
}

// Line ends of any kind become CR LF.
std::string WithCrLf(const std::vector<std::uint8_t>& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            out += "\r\n";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out.push_back(static_cast<char>(text[i]));
        }
    }
    return out;
}

int CountLines(const std::string& crlfText) {
    int lines = 0;
    for (std::size_t i = 0; i < crlfText.size(); ++lines) {
        const std::size_t end = crlfText.find("\r\n", i);
        i = end == std::string::npos ? crlfText.size() : end + 2;
    }
    return lines;
}

void ReadInstructions(TManifestReader& r, TManifest& m) {
    // The file may be larger than the field before its line ends are counted again.
    const auto text = r.File(KInstructions, std::numeric_limits<std::size_t>::max());
    if (!text)
        return;
    if (std::find(text->begin(), text->end(), 0) != text->end())
        r.FailFile(KInstructions, r.LastFile(), "holds a zero byte, which would end the text");
    std::string crlf = WithCrLf(*text);
    if (crlf.size() > L::WizardTextSize)
        r.FailFile(KInstructions, r.LastFile(),
                   std::to_string(crlf.size()) + " bytes with CR LF line ends, more than the " +
                       std::to_string(L::WizardTextSize) + " the field holds");
    const int lines = CountLines(crlf);
    if (lines > KWizardLines)
        m.Warnings.push_back(r.LastFile() + ": " + KInstructions.Name() + ": " +
                             std::to_string(lines) + " lines; the window shows at most " +
                             std::to_string(KWizardLines) + ", so it shows none of them");
    m.Contents.WizardText = std::move(crlf);
}

} // namespace

TManifest ReadManifest(const std::string& path) {
    TManifestReader r(path);
    r.CheckReadable();
    TManifest m;
    TPackageContents& c = m.Contents;
    c.Title = r.Latin1Text(KTitle, L::TextFieldSize, "");
    c.Model = r.Latin1Text(KModel, L::TextFieldSize, "");
    ReadFlash(r, c);
    c.ComConnect = r.Serial(KSerialConnect);
    c.ComProgram = r.Serial(KSerialProgram);
    c.BootConnect = r.ConnectString(KBoot, DefaultBootConnect);
    c.UserConnect = r.ConnectString(KUser, DefaultUserConnect);
    c.ConnectResponse = r.ConnectString(KResponse, DefaultConnectResponse);
    ReadImage(r, c);
    ReadIcon(r, c);
    ReadPicture(r, c);
    ReadInstructions(r, m);
    m.InputFiles = r.Inputs();
    m.InputFiles.insert(m.InputFiles.begin(), path);
    return m;
}
