#include "engine/property_reads.h"

#include "app/properties.h"

namespace parlune::engine {

bool propertyBool(const char* name) { return app::properties().toBool(QString::fromLatin1(name)); }
int propertyInt(const char* name) { return app::properties().toInt(QString::fromLatin1(name)); }
QString propertyText(const char* name) {
    return app::properties().toString(QString::fromLatin1(name));
}

}  // namespace parlune::engine
