#include "base/Error.h"
#include "db/Schema.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kivaro-mktemplate <output file>\n");
        return 2;
    }
    try {
        Schema::writeTemplate(QString::fromLocal8Bit(argv[1]));
    } catch (const KivaroError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
