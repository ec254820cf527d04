#include "app/ui/markup.h"

#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QTextDocument>
#include <QUrl>
#include <vector>

#include "app/ui/picture_attr.h"
#include "app/ui/skin_fonts.h"

namespace keltra {

namespace {

const QString kSpaceResource = QStringLiteral("markup-space");

struct ImageRef {
    QString file;
    int count = 1;
    int index = 0;
    QString Name() const {
        return QStringLiteral("markup-image/%1/%2/%3").arg(file).arg(count).arg(index);
    }
};

struct Tag {
    bool closing = false;
    QString name;
    QStringList args;
};

// Reads a tag at `pos` ("{...}" or "<...>"). Returns the length used, 0 when the text there is
// no tag of the markup and stands for itself.
qsizetype ReadTag(const QString& text, qsizetype pos, Tag& tag) {
    const QChar open = text[pos];
    const QChar close = open == QLatin1Char('{') ? QLatin1Char('}') : QLatin1Char('>');
    const qsizetype end = text.indexOf(close, pos + 1);
    if (end < 0) return 0;
    const QString body = text.mid(pos + 1, end - pos - 1).trimmed();
    if (body.isEmpty()) return 0;
    if (body.startsWith(QLatin1Char('/'))) {
        tag.closing = true;
        return end - pos + 1;
    }
    QStringList parts = body.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    static const QStringList kNames = {"f", "c", "b", "u", "i", "a", "x", "n", "p"};
    if (!kNames.contains(parts.front())) return 0;
    tag.closing = false;
    tag.name = parts.takeFirst();
    tag.args = parts;
    return end - pos + 1;
}

QString BuildHtml(const QString& markup, std::vector<ImageRef>* images) {
    QString html;
    QString pendingText;
    std::vector<QString> closers;  // what ends each open tag, innermost last
    auto flushText = [&] {
        // Runs of blanks keep their width; single blanks stay places to wrap.
        html +=
            pendingText.toHtmlEscaped().replace(QStringLiteral("  "), QStringLiteral(" &nbsp;"));
        pendingText.clear();
    };
    for (qsizetype pos = 0; pos < markup.size();) {
        const QChar ch = markup[pos];
        Tag tag;
        const qsizetype used =
            (ch == QLatin1Char('{') || ch == QLatin1Char('<')) ? ReadTag(markup, pos, tag) : 0;
        if (used == 0) {
            pendingText += ch;
            ++pos;
            continue;
        }
        pos += used;
        flushText();
        if (tag.closing) {
            if (!closers.empty()) {
                html += closers.back();
                closers.pop_back();
            }
            continue;
        }
        const QString arg = tag.args.value(0);
        if (tag.name == QLatin1String("f")) {
            const QFont font = SkinFont(arg.toInt());
            html += QStringLiteral("<span style=\"font-size:%1px; font-weight:%2;\">")
                        .arg(font.pixelSize())
                        .arg(font.weight());
            closers.push_back(QStringLiteral("</span>"));
        } else if (tag.name == QLatin1String("c")) {
            html += QStringLiteral("<span style=\"color:%1;\">").arg(arg.toHtmlEscaped());
            closers.push_back(QStringLiteral("</span>"));
        } else if (tag.name == QLatin1String("b") || tag.name == QLatin1String("u")) {
            html += QLatin1Char('<') + tag.name + QLatin1Char('>');
            closers.push_back(QStringLiteral("</") + tag.name + QLatin1Char('>'));
        } else if (tag.name == QLatin1String("a")) {
            html += QStringLiteral("<u>");
            closers.push_back(QStringLiteral("</u>"));
        } else if (tag.name == QLatin1String("i") && tag.args.isEmpty()) {
            html += QStringLiteral("<i>");
            closers.push_back(QStringLiteral("</i>"));
        } else if (tag.name == QLatin1String("i")) {
            ImageRef image{arg, qMax(1, tag.args.value(1, "1").toInt()),
                           qMax(0, tag.args.value(2, "0").toInt())};
            if (image.index >= image.count) image.index = image.count - 1;
            const QPixmap whole = SkinPixmap(image.file);
            if (!whole.isNull()) {
                html += QStringLiteral(
                            "<img src=\"%1\" width=\"%2\" height=\"%3\" "
                            "style=\"vertical-align: middle;\">")
                            .arg(image.Name().toHtmlEscaped())
                            .arg(whole.width() / image.count)
                            .arg(whole.height());
                if (images != nullptr) images->push_back(image);
            }
        } else if (tag.name == QLatin1String("x")) {
            html += QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"1\">")
                        .arg(kSpaceResource)
                        .arg(qMax(0, arg.toInt()));
        } else if (tag.name == QLatin1String("n") || tag.name == QLatin1String("p")) {
            html += QStringLiteral("<br>");
        }
    }
    flushText();
    while (!closers.empty()) {
        html += closers.back();
        closers.pop_back();
    }
    return html;
}

}  // namespace

QString MarkupToHtml(const QString& markup) {
    return BuildHtml(markup, nullptr);
}

void SetMarkup(QTextDocument& document, const QString& markup) {
    std::vector<ImageRef> images;
    const QString html = BuildHtml(markup, &images);
    QImage space(1, 1, QImage::Format_ARGB32_Premultiplied);
    space.fill(Qt::transparent);
    document.addResource(QTextDocument::ImageResource, QUrl(kSpaceResource), space);
    for (const auto& image : images) {
        // Drawn at twice the size, so the picture stays sharp on scaled screens.
        const QPixmap whole = SkinPixmap(image.file, 2.0);
        const qreal scale = whole.devicePixelRatio();
        const int width = whole.width() / image.count;
        QImage part = whole.copy(width * image.index, 0, width, whole.height()).toImage();
        part.setDevicePixelRatio(scale);
        document.addResource(QTextDocument::ImageResource, QUrl(image.Name()), part);
    }
    document.setDocumentMargin(0);
    document.setHtml(html);
}

QString MarkupToPlainText(const QString& markup) {
    QString text;
    for (qsizetype pos = 0; pos < markup.size();) {
        const QChar ch = markup[pos];
        Tag tag;
        const qsizetype used =
            (ch == QLatin1Char('{') || ch == QLatin1Char('<')) ? ReadTag(markup, pos, tag) : 0;
        if (used == 0) {
            text += ch;
            ++pos;
        } else {
            if (!tag.closing &&
                (tag.name == QLatin1String("n") || tag.name == QLatin1String("p"))) {
                text += QLatin1Char('\n');
            }
            pos += used;
        }
    }
    return text;
}

}  // namespace keltra
