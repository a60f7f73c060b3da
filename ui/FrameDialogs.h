#pragma once
// The main frame's dialog commands: File > Site Manager (and the toolbar button), Tools >
// Offline Search and Tools > Settings... Each opens its dialog over the frame's context;
// sites chosen in them open through the session list, as the quick-connect bar does.

#include "ui/FrameContext.h"

class MainFrame;

void ConnectFrameDialogs(MainFrame& frame, const FrameContext& context);
