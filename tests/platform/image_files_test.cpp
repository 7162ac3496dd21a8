// Decoding fixtures of every offered format, encoding grabs by extension, the grab file name and
// lamps, the thumbnail rule, text rendering and the drawn pictures.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QFile>
#include <QFontInfo>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/drawn_pictures.h"
#include "platform/grab_writer.h"
#include "platform/image_files.h"
#include "platform/qt_text_rasteriser.h"
#include "platform_test_support.h"
#include "video/timecode_burn_in.h"

namespace velmor {
namespace {

using testing::EnsureQtApp;

struct Bgra {
    int b, g, r, a;
};

Bgra PixelAt(const ImageBuffer& p, int x, int y) {
    const uint8_t* q = p.pixels() + (static_cast<size_t>(y) * p.width + x) * 4;
    return {q[0], q[1], q[2], q[3]};
}

void ExpectColour(const ImageBuffer& p, int x, int y, QColor c, int alpha, int tolerance,
                  const std::string& what) {
    const Bgra got = PixelAt(p, x, y);
    EXPECT_NEAR(got.r, c.red(), tolerance) << what << " at " << x << "," << y;
    EXPECT_NEAR(got.g, c.green(), tolerance) << what << " at " << x << "," << y;
    EXPECT_NEAR(got.b, c.blue(), tolerance) << what << " at " << x << "," << y;
    EXPECT_EQ(got.a, alpha) << what << " at " << x << "," << y;
}

// 16 x 8: top half red, bottom half blue, so a flipped decode shows.
QImage TwoBands(QImage::Format format) {
    QImage image(16, 8, format);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            image.setPixelColor(x, y, y < 4 ? QColor(200, 20, 30) : QColor(10, 40, 220));
    return image;
}

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override { EnsureQtApp(); }
    std::string Path(const char* name) const { return (dir_.path() + "/" + name).toStdString(); }
    QTemporaryDir dir_;
};

TEST_F(ImageFiles, DecodesEveryOfferedFormatWithSizeBitDepthAndAlpha) {
    // PNG with alpha: the file's alpha is kept.
    QImage withAlpha = TwoBands(QImage::Format_ARGB32);
    withAlpha.setPixelColor(3, 1, QColor(200, 20, 30, 77));
    ASSERT_TRUE(withAlpha.save(QString::fromStdString(Path("alpha.png"))));
    ASSERT_TRUE(TwoBands(QImage::Format_RGB888).save(QString::fromStdString(Path("plain.bmp"))));
    ASSERT_TRUE(TwoBands(QImage::Format_RGB32).save(QString::fromStdString(Path("photo.jpg"))));
    ASSERT_TRUE(TwoBands(QImage::Format_RGB32).save(QString::fromStdString(Path("scan.tif"))));
    ImageBuffer gifSource;
    ASSERT_TRUE(FromQImage(TwoBands(QImage::Format_RGB32), gifSource));
    ASSERT_TRUE(EncodeImageFile(Path("anim.gif"), gifSource));  // Qt cannot write GIF

    struct Case {
        const char* file;
        int bitDepth;
        int alpha;  // alpha of an ordinary pixel
        int tolerance;
    } cases[] = {
        {"alpha.png", 32, 255, 0}, {"plain.bmp", 24, 0, 0}, {"photo.jpg", 24, 0, 12},
        {"anim.gif", 8, 0, 0},     {"scan.tif", 24, 0, 0},
    };
    for (const auto& c : cases) {
        ImageBuffer picture;
        ASSERT_TRUE(LoadFromFile(picture, Path(c.file))) << c.file;
        EXPECT_EQ(picture.name, c.file);
        EXPECT_EQ(picture.path, Path(c.file));
        EXPECT_EQ(picture.width, 16) << c.file;
        EXPECT_EQ(picture.height, 8) << c.file;
        EXPECT_EQ(picture.decodedWidth, 16) << c.file;
        EXPECT_EQ(picture.decodedHeight, 8) << c.file;
        EXPECT_EQ(picture.decodedBitDepth, c.bitDepth) << c.file;
        EXPECT_EQ(picture.pixelKind, kPixelBGRA) << c.file;
        EXPECT_EQ(picture.bitsPerPixel, 32) << c.file;
        EXPECT_EQ(picture.byteSize, 16 * 8 * 4) << c.file;
        ExpectColour(picture, 8, 0, QColor(200, 20, 30), c.alpha, c.tolerance, c.file);
        ExpectColour(picture, 8, 7, QColor(10, 40, 220), c.alpha, c.tolerance, c.file);
    }
    ImageBuffer png;
    ASSERT_TRUE(LoadFromFile(png, Path("alpha.png")));
    EXPECT_EQ(PixelAt(png, 3, 1).a, 77);
}

TEST_F(ImageFiles, FailedLoadKeepsThePreviousPixels) {
    ImageBuffer picture;
    ASSERT_TRUE(picture.FillColour(4, 4, 1, 2, 3, 4));
    QFile junk(QString::fromStdString(Path("junk.png")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("\x89PNG not really");
    junk.close();
    for (const char* name : {"junk.png", "missing.bmp"}) {
        EXPECT_FALSE(LoadFromFile(picture, Path(name))) << name;
        EXPECT_EQ(picture.width, 4);
        ExpectColour(picture, 2, 2, QColor(1, 2, 3), 4, 0, name);
    }
}

// A PNG file whose header says w x h, followed by a few bytes of pixel data that decode to nothing.
QByteArray PngWithoutPixels(uint32_t w, uint32_t h) {
    auto be32 = [](QByteArray& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(static_cast<char>((v >> shift) & 0xFF));
    };
    QByteArray file("\x89PNG\r\n\x1a\n", 8);
    auto chunk = [&](const char* type, const QByteArray& data) {
        QByteArray body(type);
        body.append(data);
        uint32_t crc = 0xFFFFFFFFu;
        for (char c : body) {
            crc ^= static_cast<uint8_t>(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        be32(file, static_cast<uint32_t>(data.size()));
        file.append(body);
        be32(file, ~crc);
    };
    QByteArray header;
    be32(header, w);
    be32(header, h);
    header.append("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, no interlace
    chunk("IHDR", header);
    chunk("IDAT", QByteArray("\x78\x9c\x03\x00", 4));
    chunk("IEND", QByteArray());
    return file;
}

TEST_F(ImageFiles, HugeAndEmptyPicturesAreRefusedBeforeTheyAreDecoded) {
    struct Case {
        const char* name;
        uint32_t w, h;
        PictureLoad::Result result;
    };
    for (const Case& c : {Case{"wide.png", 20000, 10, PictureLoad::TooLarge},
                          Case{"tall.png", 8, 8193, PictureLoad::TooLarge},
                          Case{"enormous.png", 100000, 100000, PictureLoad::TooLarge},
                          Case{"empty.png", 0, 0, PictureLoad::Unreadable},
                          Case{"nopixels.png", 64, 64, PictureLoad::Unreadable}}) {
        SCOPED_TRACE(c.name);
        QFile f(QString::fromStdString(Path(c.name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(PngWithoutPixels(c.w, c.h));
        f.close();
        ImageBuffer picture;
        ASSERT_TRUE(picture.FillColour(4, 4, 1, 2, 3, 4));
        const PictureLoad load = LoadPictureFile(picture, Path(c.name));
        EXPECT_EQ(load.result, c.result);
        if (c.result == PictureLoad::TooLarge) {
            EXPECT_EQ(load.width, static_cast<int>(c.w));
        }
        EXPECT_EQ(picture.width, 4) << "the previous pixels stay";
    }
    // The largest side allowed still loads.
    ASSERT_TRUE(
        QImage(8192, 2, QImage::Format_ARGB32).save(QString::fromStdString(Path("edge.png"))));
    ImageBuffer edge;
    EXPECT_TRUE(LoadPictureFile(edge, Path("edge.png")).ok());
    EXPECT_EQ(edge.width, 8192);
}

// A few hundred bytes claiming a picture of 100000 x 100000 and a chunk of 1.7 GB: the decoder
// would set the chunk's length aside before finding the file short (1.8 GB for a 290-byte file
// the fuzzer found).
TEST_F(ImageFiles, AChunkLongerThanItsFileIsRefusedWithoutTakingItsLength) {
    QByteArray file = PngWithoutPixels(100000, 100000);
    const int afterHeader = file.indexOf("IDAT") - 4;  // read with the header
    QByteArray text("\x6a\x70\x67\x00tEXtdate:create", 19);
    text.append(QByteArray(64, 'x'));
    file.insert(afterHeader, text);
    QFile f(QString::fromStdString(Path("long-chunk.png")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    ImageBuffer picture;
    ASSERT_TRUE(picture.FillColour(4, 4, 1, 2, 3, 4));
    EXPECT_EQ(LoadPictureFile(picture, Path("long-chunk.png")).result, PictureLoad::Unreadable);
    EXPECT_EQ(picture.width, 4) << "the previous pixels stay";
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "kilobytes more at the peak";
}

TEST_F(ImageFiles, FileWindowOffersTheOverlayFormatsAndCancelChangesNothing) {
    ImageBuffer picture;
    ASSERT_TRUE(picture.FillColour(2, 2, 9, 9, 9, 9));
    std::string title;
    EXPECT_FALSE(LoadWithFileWindow(picture, [&](const FileWindowRequest& r) {
        title = r.title;
        EXPECT_EQ(QtNameFilters(r), "Image Files (*.bmp *.gif *.jpg *.png *.tif);;All Files (*)");
        return std::optional<std::string>();
    }));
    EXPECT_EQ(title, "Load Overlay Image");
    EXPECT_EQ(picture.width, 2);
    EXPECT_TRUE(picture.name.empty());

    ASSERT_TRUE(TwoBands(QImage::Format_RGB32).save(QString::fromStdString(Path("chosen.png"))));
    EXPECT_TRUE(LoadWithFileWindow(picture, [&](const FileWindowRequest&) {
        return std::optional<std::string>(Path("chosen.png"));
    }));
    EXPECT_EQ(picture.name, "chosen.png");
    EXPECT_EQ(picture.width, 16);
}

TEST_F(ImageFiles, GrabsInAllFourFormatsDecodeBackWithoutAlpha) {
    // A BGRA frame whose alpha varies: none of it may reach the file.
    ImageBuffer frame;
    ASSERT_TRUE(frame.Reshape(32, 16, kPixelBGRA));
    frame.bitsPerPixel = 32;
    const QColor colours[4] = {QColor(250, 250, 250), QColor(0, 0, 0), QColor(30, 160, 60),
                               QColor(240, 200, 10)};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const QColor c = colours[(x / 16) + 2 * (y / 8)];
            uint8_t* p = frame.pixels() + (y * 32 + x) * 4;
            p[0] = static_cast<uint8_t>(c.blue());
            p[1] = static_cast<uint8_t>(c.green());
            p[2] = static_cast<uint8_t>(c.red());
            p[3] = static_cast<uint8_t>(x * 8);
        }
    struct Case {
        const char* file;
        int tolerance;
    } cases[] = {{"g.bmp", 0}, {"g.PNG", 0}, {"g.gif", 0}, {"g.jpg", 20}};
    for (const auto& c : cases) {
        ASSERT_TRUE(EncodeImageFile(Path(c.file), frame)) << c.file;
        ImageBuffer back;
        ASSERT_TRUE(LoadFromFile(back, Path(c.file))) << c.file;
        EXPECT_LT(back.decodedBitDepth, 32) << c.file << ": alpha was written";
        for (int q = 0; q < 4; ++q)  // centre of each quarter
            ExpectColour(back, 8 + 16 * (q % 2), 4 + 8 * (q / 2), colours[q], 0, c.tolerance,
                         c.file);
    }
}

TEST_F(ImageFiles, GifOfManyColoursIsQuantisedCloseToTheOriginal) {
    ImageBuffer ramp;
    ASSERT_TRUE(ramp.Reshape(64, 64, kPixelBGRA));
    ramp.bitsPerPixel = 32;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = ramp.pixels() + (y * 64 + x) * 4;
            p[0] = static_cast<uint8_t>(x * 4);
            p[1] = static_cast<uint8_t>(y * 4);
            p[2] = 128;
            p[3] = 255;
        }
    ASSERT_TRUE(EncodeImageFile(Path("ramp.gif"), ramp));
    ImageBuffer back;
    ASSERT_TRUE(LoadFromFile(back, Path("ramp.gif")));
    ExpectColour(back, 40, 20, QColor(128, 80, 160), 0, 24, "ramp");
}

TEST_F(ImageFiles, EncodingRefusesWhatItCannotWriteAndReplacesExistingFiles) {
    ImageBuffer picture;
    ASSERT_TRUE(picture.FillColour(8, 8, 10, 20, 30, 255));
    EXPECT_FALSE(EncodeImageFile(Path("x.tga"), picture));
    EXPECT_FALSE(EncodeImageFile(Path("noextension"), picture));
    EXPECT_FALSE(EncodeImageFile(Path("missing/x.png"), picture));
    EXPECT_FALSE(EncodeImageFile(Path("empty.png"), ImageBuffer()));

    ASSERT_TRUE(EncodeImageFile(Path("same.png"), picture));
    ASSERT_TRUE(picture.FillColour(8, 8, 200, 100, 0, 255));
    ASSERT_TRUE(EncodeImageFile(Path("same.png"), picture));
    ImageBuffer back;
    ASSERT_TRUE(LoadFromFile(back, Path("same.png")));
    ExpectColour(back, 1, 1, QColor(200, 100, 0), 0, 0, "overwritten");
}

struct RecordingLamps : IGrabLamps {
    void ShowSignalLamp(Lamp lamp) override { shown.push_back(lamp); }
    void StartGrabBlink() override { ++blinks; }
    std::vector<Lamp> shown;
    int blinks = 0;
};

TEST_F(ImageFiles, WriteGrabConvertsEncodesAndLightsTheLamp) {
    // A UYVY grab: two pixels Y = 126 and Y = 235 at neutral chroma become (B, G, R) (129, 128,
    // 128) and white in the file.
    ImageBuffer grab;
    ASSERT_TRUE(grab.Reshape(2, 1, kPixelUYVY));
    const uint8_t uyvy[4] = {128, 126, 128, 235};
    std::memcpy(grab.pixels(), uyvy, 4);
    GrabNaming naming;
    naming.addDate = 0;
    naming.addTime = 0;
    naming.formatIndex = 0;  // BMP
    naming.grabFolder = dir_.path().toStdString();

    ImageBuffer output;
    RecordingLamps ok;
    EXPECT_TRUE(WriteGrab(naming, 1, grab, output, ok, std::time(nullptr)));
    EXPECT_EQ(ok.shown, std::vector<Lamp>{Lamp::Green});
    EXPECT_EQ(ok.blinks, 1);
    ImageBuffer back;
    ASSERT_TRUE(LoadFromFile(back, Path("VelmorGrab-2.bmp")));
    ExpectColour(back, 0, 0, QColor(128, 128, 129), 0, 0, "Y 126");
    ExpectColour(back, 1, 0, QColor(255, 255, 255), 0, 0, "Y 235");

    struct Failure {
        const char* what;
        std::string folder;
        bool emptyGrab;
    } failures[] = {{"missing folder", Path("not/there"), false},
                    {"unwritable folder", "/proc", false},
                    {"empty grab", dir_.path().toStdString(), true}};
    const ImageBuffer empty;
    for (const auto& f : failures) {
        naming.grabFolder = f.folder;
        RecordingLamps lamps;
        EXPECT_FALSE(
            WriteGrab(naming, 0, f.emptyGrab ? empty : grab, output, lamps, std::time(nullptr)))
            << f.what;
        EXPECT_EQ(lamps.shown, std::vector<Lamp>{Lamp::Red}) << f.what;
        EXPECT_EQ(lamps.blinks, 0) << f.what;
    }
}

TEST(Thumbnail, FitsByTheSixteenNinthsRule) {
    struct Case {
        int w, h;
        QRect expected;
    } cases[] = {
        {1920, 1080, QRect(0, 0, 160, 90)},  // exactly 16:9 takes the full width
        {800, 600, QRect(20, 0, 120, 90)},   // narrower: full height
        {3200, 900, QRect(0, 22, 160, 45)},  // wider: full width, centred down
        {0, 10, QRect()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ThumbnailRect(160, 90, c.w, c.h), c.expected) << c.w;
}

// Bounding box of the non-background pixels.
QRect InkBox(const ImageBuffer& p, int backgroundAlpha) {
    QRect box;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const Bgra q = PixelAt(p, x, y);
            if (q.b || q.g || q.r) {
                EXPECT_EQ(q.a, 255);
                box = box.united(QRect(x, y, 1, 1));
            } else {
                EXPECT_EQ(q.a, backgroundAlpha);
            }
        }
    return box;
}

TEST(TextRendering, CentredWhiteOnBackgroundWithTheAlphaRule) {
    EnsureQtApp();
    QtTextRasteriser rasteriser;
    struct Case {
        int alpha;
        int backgroundAlpha;
    } cases[] = {{175, 175}, {0, 0}, {8, 255}};
    for (const auto& c : cases) {
        ImageBuffer box;
        ASSERT_TRUE(box.FillColour(1680, 180, 0, 0, 0, 0));  // the text box of a 1920 x 1080 frame
        ASSERT_TRUE(box.RenderText("Studio 4", c.alpha, rasteriser));
        const QRect ink = InkBox(box, c.backgroundAlpha);
        ASSERT_FALSE(ink.isEmpty());
        EXPECT_NEAR(ink.center().x(), 840, 4) << c.alpha;
        EXPECT_NEAR(ink.center().y(), 90, 12) << c.alpha;
        EXPECT_GT(ink.height(), 180 * 7 / 10 / 2) << "font height follows the picture height";
        // Antialiased: white core and grey edges.
        bool white = false, grey = false;
        for (int y = ink.top(); y <= ink.bottom(); ++y)
            for (int x = ink.left(); x <= ink.right(); ++x) {
                const Bgra q = PixelAt(box, x, y);
                white |= q.r == 255 && q.g == 255 && q.b == 255;
                grey |= q.r > 0 && q.r < 255;
            }
        EXPECT_TRUE(white && grey);
    }
    // Franklin Gothic Medium, else Arial: fontconfig answers Arial with the metric-compatible
    // Liberation Sans (fonts-liberation is part of the set-up), before the system's sans font.
    const QString family = QFontInfo(QtTextRasteriser::TextFont(20)).family();
    EXPECT_TRUE(family == "Franklin Gothic Medium" || family == "Arial" ||
                family == "Liberation Sans")
        << family.toStdString();
    EXPECT_EQ(QFontInfo(QtTextRasteriser::TextFont(20)).pixelSize(), 20);
}

TEST(DrawnPictures, GlyphsLampsSpeakersAndIdlePicture) {
    EnsureQtApp();
    ImageBuffer glyphs[kDigitImageCount];
    ASSERT_TRUE(DrawTimecodeGlyphs(glyphs, kTimecodeGlyphs));
    ASSERT_TRUE(PrepareDigitImages(glyphs));  // the burn-in's UYVA copies
    for (int i = 0; i <= 10; ++i) {
        EXPECT_EQ(glyphs[i].width, i == 10 ? 24 : 56);
        EXPECT_EQ(glyphs[i].height, 72);
        EXPECT_EQ(glyphs[i].pixelKind, kPixelBGRA);
        EXPECT_EQ(glyphs[i + 11].pixelKind, kPixelUYVA);
        EXPECT_EQ(glyphs[i + 11].width, glyphs[i].width);
        int ink = 0;
        for (int p = 0; p < glyphs[i].width * 72; ++p) {
            EXPECT_EQ(glyphs[i].pixels()[p * 4 + 3], 255);
            ink += glyphs[i].pixels()[p * 4 + 1] > 128;
        }
        EXPECT_GT(ink, 20) << "glyph " << i << " is blank";
        for (int j = 0; j < i; ++j)
            EXPECT_NE(
                std::memcmp(glyphs[i].pixels(), glyphs[j].pixels(),
                            static_cast<size_t>(std::min(glyphs[i].byteSize, glyphs[j].byteSize))),
                0)
                << i << " looks like " << j;
    }
    EXPECT_FALSE(DrawTimecodeGlyphs(glyphs, 10));

    const QColor red = LampPicture(Lamp::Red).pixelColor(8, 8);
    const QColor green = LampPicture(Lamp::Green).pixelColor(8, 8);
    const QColor grey = LampPicture(Lamp::Grey).pixelColor(8, 8);
    EXPECT_GT(red.red(), red.green() + 60);
    EXPECT_GT(green.green(), green.red() + 60);
    EXPECT_LT(std::abs(grey.red() - grey.blue()), 10);
    EXPECT_EQ(LampPicture(Lamp::Red).pixelColor(0, 0).alpha(), 0);

    EXPECT_EQ(SpeakerPicture(2).height(), 24);
    EXPECT_NE(SpeakerPicture(2), SpeakerPicture(1));
    EXPECT_NE(SpeakerPicture(1), SpeakerPicture(0));
    EXPECT_EQ(IdlePicture().size(), QSize(480, 270));
}

}  // namespace
}  // namespace velmor
