#pragma once

#include "registry.h"

#include <QString>

namespace kelvara {

// Reads the value `SubKeyRef` of the key `KeyName` below `KeyRoot` into `KeyVal`: a string as
// text, a number as "&h" and its hexadecimal digits, any other type leaving `KeyVal` as it was.
// False, with `KeyVal` emptied, when the key or value cannot be read or the value is longer than
// 1024 bytes.
bool GetKeyValue(RegKey KeyRoot, const QString& KeyName, const QString& SubKeyRef, QString& KeyVal);

// Starts the system-information program the registry names, or says that there is none.
void StartSysInfo();

} // namespace kelvara
