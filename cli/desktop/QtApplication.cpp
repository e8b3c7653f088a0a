#include "QtApplication.h"

#include <QtCore/QCoreApplication>

namespace brimvale::cli {

QtApplication::QtApplication() : app_(std::make_unique<QCoreApplication>(argc_, argv_)) {}

QtApplication::~QtApplication() = default;

}  // namespace brimvale::cli
