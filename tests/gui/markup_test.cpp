// Row markup and picture attributes.
#include "app/ui/markup.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTextDocument>

#include "app/ui/markup_label.h"
#include "app/ui/picture_attr.h"
#include "gui_test_support.h"

namespace keltra {
namespace {

class MarkupTest : public QObject {
    Q_OBJECT

  private slots:
    void TagsBecomeFormatting() {
        const QString row = "{f 5}{x 5}{i physical_drive.png 1 0}{x 2}Hard disk 1{/5}";
        QCOMPARE(MarkupToPlainText(row), QString("Hard disk 1"));
        const QString html = MarkupToHtml(row);
        QVERIFY(html.contains("font-size:13px"));
        QVERIFY(html.contains("markup-image/physical_drive.png/1/0"));
        QVERIFY(html.contains("width=\"5\""));
        QVERIFY(html.contains("width=\"2\""));

        const QString count = MarkupToHtml("Found: {f 7}{c #316D1E}42{/c}{/f} files");
        QVERIFY(count.contains("color:#316D1E"));
        QVERIFY(count.contains(">42</span></span> files"));

        // Angle-bracket tags, a two-part picture, and text that only looks like a tag.
        const QString tree = "<x 6><a><i expand_flag.png 2 1></a>{z} a<b> {c #f00}x";
        QCOMPARE(MarkupToPlainText(tree), QString("{z} a x"));
        QVERIFY(MarkupToHtml(tree).contains("markup-image/expand_flag.png/2/1"));
        QVERIFY(MarkupToHtml(tree).endsWith("</span></b>"));
    }

    void PicturesAreCutFromTheirSheet() {
        QTextDocument document;
        SetMarkup(document, "{i expand_flag.png 2 1}");
        const QImage part =
            document
                .resource(QTextDocument::ImageResource, QUrl("markup-image/expand_flag.png/2/1"))
                .value<QImage>();
        const QPixmap whole = SkinPixmap("expand_flag.png", 2.0);
        QVERIFY(!part.isNull());
        QCOMPARE(part.width(), whole.width() / 2);
        QCOMPARE(part.height(), whole.height());
        // A picture that does not exist is left out rather than drawn broken.
        QCOMPARE(MarkupToPlainText("{i no_such.png 1 0}x"), QString("x"));
        QVERIFY(!MarkupToHtml("{i no_such.png 1 0}x").contains("img"));
    }

    void PictureAttributesAreRead() {
        const PictureAttr sprite =
            ParsePictureAttr("file='checkbox.png' source='48,22,60,34' dest='2,0,14,12'");
        QCOMPARE(sprite.file, QString("checkbox.png"));
        QCOMPARE(sprite.source, QRect(48, 22, 12, 12));
        QCOMPARE(sprite.dest, QRect(2, 0, 12, 12));
        const PictureAttr banner = ParsePictureAttr("file='banner_bg.png' corner='0,0,0,70'");
        QCOMPARE(banner.corner, QMargins(0, 0, 0, 70));
        QVERIFY(banner.source.isNull());
        QCOMPARE(ParsePictureAttr("point.png").file, QString("point.png"));
        QVERIFY(ParsePictureAttr("file='x.png' source='1,2,3'").source.isNull());
    }

    void SpriteLandsAtItsDestination() {
        // The checked cell of the check-box sheet, placed at (2,0)-(14,12) in a 20 x 12 control.
        QImage canvas(20, 12, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        {
            QPainter painter(&canvas);
            PaintPicture(
                painter, canvas.rect(),
                ParsePictureAttr("file='checkbox.png' source='48,22,60,34' dest='2,0,14,12'"));
        }
        QCOMPARE(qAlpha(canvas.pixel(0, 6)), 0);
        QCOMPARE(qAlpha(canvas.pixel(17, 6)), 0);
        const QColor inside = canvas.pixelColor(4, 3);
        QVERIFY(inside.alpha() > 200);
        QVERIFY(inside.blue() > inside.red());  // the checked cell is blue
    }

    void LabelWrapsLongText() {
        CMarkupLabel label;
        label.SetText("a few words that need more than one line at this width");
        const int one = label.heightForWidth(2000);
        QVERIFY(label.heightForWidth(80) > 2 * one);
    }
};

KELTRA_GUI_TEST("Markup", MarkupTest);

}  // namespace
}  // namespace keltra

#include "markup_test.moc"
