#include "app/source_item.h"

#include <QFileInfo>

#include "app/message_format.h"
#include "app/ui/apply_section.h"
#include "engines/engine_factory.h"

namespace keltra {

QString ImageVolumeText(const VolumeEntry& volume) {
    if (volume.partitionNumber <= 0) return MessageText("MSG0224");
    return FormatMessage(MessageText("MSG0223"), {QString::number(volume.partitionNumber)});
}

QString ImageSourceText(const SourceItem& source) {
    const QString file = QFileInfo(QString::fromStdString(source.imagePath)).fileName();
    if (!source.IsImageVolume()) return file;
    return file + QStringLiteral(", ") + ImageVolumeText(*source.partition);
}

QString SourceName(const SourceItem& source) {
    if (!source.IsPartition()) return ImageSourceText(source);
    const uint16_t letter = source.partition->letter;
    if (IsDriveLetter(letter)) return QString(QChar(letter)) + QLatin1Char(':');
    return FormatMessage(MessageText("MSG0232"), {QString::number(letter)});
}

std::unique_ptr<IFileRecoveryParse> MakeSourceEngine(const SourceItem& source, bool deep) {
    if (source.IsPartition()) {
        const VolumeEntry& p = *source.partition;
        return CreatePartitionEngine(p.diskNumber, p.start, p.length, p.letter, deep);
    }
    if (source.IsImageVolume()) {
        const VolumeEntry& v = *source.partition;
        return CreateImageVolumeEngine(source.imagePath, v.start, v.length, source.imageTag, deep);
    }
    return CreateImageEngine(source.imagePath, source.imageTag, deep);
}

}  // namespace keltra
