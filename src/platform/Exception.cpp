#include "platform/Exception.h"

#include <utility>

Exception::Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept { return FUtf8.constData(); }
