// Fixture: core reaching for a desktop Qt module.
#include <QWidget>
