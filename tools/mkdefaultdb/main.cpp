// Writes the factory PARAM.db of the default parameter group.
//   mkdefaultdb <output file> [language 0-3, default 1]
#include "paramdb.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: mkdefaultdb <output file> [language 0-3]\n");
        return 2;
    }
    const int lan = argc == 3 ? std::atoi(argv[2]) : 1;
    if (lan < 0 || lan > 3) {
        std::fprintf(stderr, "mkdefaultdb: the language is 0 to 3\n");
        return 2;
    }
    QString error;
    if (!paramdb::writeDefaultDatabase(QString::fromLocal8Bit(argv[1]), lan, &error)) {
        std::fprintf(stderr, "mkdefaultdb: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
