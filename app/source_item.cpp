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

SourceRef SourceItem::Ref() const {
    if (IsPartition()) {
        return SourceRef::Partition(partition->diskNumber, partition->start, partition->length,
                                    partition->letter);
    }
    if (IsImageVolume()) {
        return SourceRef::ImageVolume(imagePath, partition->start, partition->length, imageTag);
    }
    return SourceRef::Image(imagePath, imageTag);
}

std::unique_ptr<ScanEngine> MakeSourceEngine(const SourceItem& source, bool deep) {
    return CreateEngine(source.Ref(), deep);
}

}  // namespace keltra
