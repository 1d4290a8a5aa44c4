#include "tray/Server.h"

namespace tray {

namespace {

ServeFunction& Registered() {
    static ServeFunction serve = nullptr;
    return serve;
}

}  // namespace

ServeFunction Server() {
    return Registered();
}

bool RegisterServer(ServeFunction serve) {
    Registered() = serve;
    return true;
}

}  // namespace tray
