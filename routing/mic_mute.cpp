#include "routing/mic_mute.h"

#include <QDebug>

#include "platform/endpoints/endpoints.h"
#include "routing/routing.h"

namespace parlune::routing {
namespace {

bool carriesProductName(const std::string& name) {
    return name.find("Parlune") != std::string::npos;
}

}  // namespace

void muteOtherMicrophones(const std::string& chosenName, endpoints::CaptureEndpoints& endpoints) {
    const auto list = endpoints.active();
    if (!list) return;

    int found = 0;
    long keep = -1;  // the one endpoint with the chosen name that stays unmuted
    for (size_t i = 0; i < list->size(); ++i) {
        const auto& name = (*list)[i].friendlyName;
        if (name == chosenName && !carriesProductName(name)) {
            ++found;
            if (keep < 0) keep = static_cast<long>(i);
        }
    }
    if (found >= 2) {
        if (const auto def = endpoints.defaultEndpoint()) {
            for (size_t i = 0; i < list->size(); ++i)
                if ((*list)[i].id == def->id && (*list)[i].friendlyName == chosenName)
                    keep = static_cast<long>(i);
        }
    }

    for (size_t i = 0; i < list->size(); ++i) {
        const auto& endpoint = (*list)[i];
        rememberDeviceName(endpoint.friendlyName);
        const bool chosen =
            endpoint.friendlyName == chosenName && (found < 2 || static_cast<long>(i) == keep);
        const bool spared = chosen || carriesProductName(endpoint.friendlyName);
        qDebug().nospace().noquote() << "i: " << i << (spared ? " UN-MUTE: " : " MUTE: ")
                                     << QString::fromStdString(endpoint.friendlyName);
        if (!endpoints.setMute(endpoint.id, !spared)) return;
    }

    if (found == 0) {
        // Nothing carried the chosen name (always so at start-up): the live
        // chain records from the default microphone, which must be heard.
        if (const auto def = endpoints.defaultEndpoint()) endpoints.setMute(def->id, false);
    }
}

void muteOtherMicrophones(const std::string& chosenName) {
    endpoints::PulseEndpoints endpoints;
    if (!endpoints.available()) return;
    muteOtherMicrophones(chosenName, endpoints);
}

}  // namespace parlune::routing
