// mkhelp <folder>: draws help<page>_<language>.png for every help page and
// language from the compiled-in text table.
#include "helppages.h"
#include "lanstr.h"

#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

constexpr int kW = 1800;
constexpr int kH = 900;

QString oneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

bool drawPage(const QString& folder, int page, int lan)
{
    const helppages::Page& p = helppages::kPage[page];
    QImage img(kW, kH, QImage::Format_RGB32);
    img.fill(QColor(32, 48, 60));
    QPainter painter(&img);
    painter.setPen(Qt::white);
    QFont title(QStringLiteral("wqy-microhei"));
    title.setPixelSize(48);
    painter.setFont(title);
    painter.drawText(QRect(0, 20, kW, 70), Qt::AlignCenter, oneLine(lanStr(p.titleRow, lan)));
    QFont body(QStringLiteral("wqy-microhei"));
    body.setPixelSize(32);
    painter.setFont(body);
    const QFontMetrics fm(body);
    int y = 130;
    for (int k = 0; k < helppages::kMaxRows && p.rows[k]; ++k) {
        const QString line = QStringLiteral("%1.  %2").arg(k + 1).arg(oneLine(lanStr(p.rows[k], lan)));
        painter.drawText(QRect(80, y, kW - 160, 70), Qt::AlignLeft | Qt::AlignVCenter,
                         fm.elidedText(line, Qt::ElideRight, kW - 160));
        y += 74;
    }
    painter.end();
    const QString file = QDir(folder).filePath(QStringLiteral("help%1_%2.png").arg(page).arg(lan));
    return img.save(file);
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkhelp <folder>\n");
        return 2;
    }
    if (initLanStr() == 0) {
        std::fprintf(stderr, "mkhelp: the text table cannot be read\n");
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    for (int page = 0; page < helppages::kPages; ++page)
        for (int lan = 0; lan < 4; ++lan)
            if (!drawPage(folder, page, lan)) {
                std::fprintf(stderr, "mkhelp: cannot write page %d language %d\n", page, lan);
                return 1;
            }
    return 0;
}
