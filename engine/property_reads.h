// Reads of the application properties as the engine converts them: flags as
// bool, indices as int, paths and names as text. A property never written
// reads as false, 0 or empty text.
//
// Thread contract: callable from any thread; the property store serialises.
#pragma once

#include <QString>

namespace parlune::engine {

bool propertyBool(const char* name);
int propertyInt(const char* name);
QString propertyText(const char* name);

}  // namespace parlune::engine
