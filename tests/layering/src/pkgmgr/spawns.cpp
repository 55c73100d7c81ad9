// Fixture: a module other than platform starting programs itself.
#include <sys/wait.h>
#include <QProcess>
