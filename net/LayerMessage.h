#pragma once
// The record a layer posts with WM_SOCKET_LAYER_NOTIFY (wParam: the socket): the layer to
// deliver to (none: the socket itself) and the event in the low 16 bits of lEvent with
// the error in the high 16 bits. The queue frees it with the message.

#include "platform/MessageQueue.h"

#include <cstdint>

class CSocketLayer;

struct CLayerMessage : CMessagePayload {
    CSocketLayer* layer = nullptr;
    uint32_t lEvent = 0;
};
