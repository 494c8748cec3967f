// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// Build helper: renders the program's SVG icon to a square PNG of the given size, for
// the icon theme's fixed sizes. Usage: tolvane-iconrender SVG SIZE PNG
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    // Renders into an image only: no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int size = args.value(2).toInt();
    if (args.size() != 4 || size < 16 || size > 1024) {
        std::fputs("usage: tolvane-iconrender SVG SIZE PNG\n", stderr);
        return 2;
    }
    QSvgRenderer svg(args[1]);
    if (!svg.isValid()) {
        std::fprintf(stderr, "tolvane-iconrender: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    if (!image.save(args[3], "PNG")) {
        std::fprintf(stderr, "tolvane-iconrender: cannot write %s\n", qPrintable(args[3]));
        return 1;
    }
    return 0;
}
