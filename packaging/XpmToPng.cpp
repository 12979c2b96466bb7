// Build tool: writes the program's XPM icon as PNG files of the sizes the
// icon theme asks for: XpmToPng SOURCE.xpm OUTPUT_FOLDER NAME SIZE...
// Each file goes to OUTPUT_FOLDER/<size>x<size>/apps/NAME.png. Whole
// multiples of the source size keep hard pixel edges; other sizes are
// smoothed.

#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s SOURCE.xpm OUTPUT_FOLDER NAME SIZE...\n", argv[0]);
    return 2;
  }
  QImage source(QString::fromLocal8Bit(argv[1]));
  if (source.isNull()) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  source = source.convertToFormat(QImage::Format_ARGB32);
  for (int i = 4; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0) return 2;
    const bool whole = size % source.width() == 0;
    QImage scaled = source.scaled(size, size, Qt::IgnoreAspectRatio,
                                  whole ? Qt::FastTransformation : Qt::SmoothTransformation);
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    QDir().mkpath(folder);
    const QString file = folder + QLatin1Char('/') + QString::fromLocal8Bit(argv[3]) + QStringLiteral(".png");
    if (!scaled.save(file, "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
      return 1;
    }
  }
  return 0;
}
