#pragma once
// The main frame's commands. Each is a named QAction (object name and text) that the
// menus, the toolbar and the views share; views that land later connect to these instead
// of adding commands of their own.

class QAction;

struct FrameActions {
    // File
    QAction* openClipboardUrl = nullptr;
    QAction* siteManager = nullptr;
    QAction* exit = nullptr;
    // View
    QAction* showToolBar = nullptr;
    QAction* showStatusBar = nullptr;
    QAction* showQuickConnectBar = nullptr;
    QAction* alwaysOnline = nullptr;
    QAction* largeIcons = nullptr;
    QAction* smallIcons = nullptr;
    QAction* listStyle = nullptr;
    QAction* details = nullptr;
    QAction* nextListStyle = nullptr;   // the toolbar's "List Style" button
    // Transfer
    QAction* startTransfer = nullptr;
    QAction* stopTransfer = nullptr;
    // Mode
    QAction* modeAscii = nullptr;
    QAction* modeBinary = nullptr;
    QAction* modeAuto = nullptr;
    // Queue
    QAction* clearQueue = nullptr;
    QAction* resetQueue = nullptr;
    QAction* saveAllQueues = nullptr;
    QAction* importJob = nullptr;
    // Tools
    QAction* offlineSearch = nullptr;
    QAction* settings = nullptr;
    // Help
    QAction* helpContents = nullptr;
    QAction* productHomepage = nullptr;
    QAction* whatsNew = nullptr;
    QAction* download = nullptr;
    QAction* feedback = nullptr;
    QAction* about = nullptr;
    // The site tab's and panes' commands the frame carries out for the active session.
    QAction* reconnect = nullptr;
    QAction* disconnect = nullptr;
};
