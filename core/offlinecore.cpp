#include "core/offlinecore.h"

#include "core/controller.h"
#include "core/tunediff.h"
#include "files/mapfile.h"
#include "link/parameterimage.h"

#include <stdexcept>

UploadImage uploadImage(ParameterImage &image)
{
    image.prepare();
    image.checkAll();
    UploadImage out{};
    for (int n = 1; n <= 32; ++n)
        out[std::size_t(n - 1)] = image.block(n);
    return out;
}

QByteArray imageBytes(const UploadImage &image)
{
    QByteArray bytes;
    bytes.reserve(256);
    for (const auto &block : image)
        for (std::uint8_t b : block)
            bytes.append(char(b));
    return bytes;
}

int OfflineCore::NoLine::write(const QByteArray &) { throw std::logic_error("no serial line"); }
QByteArray OfflineCore::NoLine::read(int) { throw std::logic_error("no serial line"); }

OfflineCore::OfflineCore()
    : controller_(std::make_unique<Controller>(screen_, line_, prompt_, timer1_, timer2_, timerTps_, timerReadBack_))
{
    controller_->FormCreate({});
}

OfflineCore::~OfflineCore() = default;

UploadImage OfflineCore::imageOf(const Tune &tune)
{
    controller_->mapFile().apply(tune);
    return uploadImage(controller_->image());
}

QList<tunediff::Difference> differingFields(const Tune &sent, const UploadImage &sentImage, const Tune &backTune,
                                            const UploadImage &backImage)
{
    const QByteArray a = imageBytes(sentImage), b = imageBytes(backImage);
    if (a == b)
        return {};
    OfflineCore dry;
    QList<tunediff::Difference> out;
    for (const tunediff::Difference &d : tunediff::compareTexts(sent, backTune)) {
        QByteArray changed;
        try {
            changed = imageBytes(dry.imageOf(tunediff::withField(sent, d.field, backTune)));
        } catch (const std::exception &) {
            out.append(d); // the read-back text cannot even be sent
            continue;
        }
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (a[i] != b[i] && changed[i] != a[i]) {
                out.append(d);
                break;
            }
        }
    }
    return out;
}
