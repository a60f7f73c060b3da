// Carrying out one command from the mailbox on the worker thread.

#include <string>

#include "ftp/CtrlSocket.h"
#include "session/FtpSession.h"

int CFtpSession::ExecuteCommand(const CSessionCommand& command) {
    if (command.code == CMD_RUN_QUEUE) return RunQueue();
    if (command.code == CMD_CONNECT || command.code == CMD_DISCONNECT) return FTP_OK;
    if (!ctrl_) return FTP_FAILED;
    CCtrlSocket& ctrl = *ctrl_;
    switch (command.code) {
    case CMD_CWD:
        return ctrl.Cwd(command.path, command.flags);
    case CMD_CDUP:
        return ctrl.Cdup(command.flags);
    case CMD_DELETE:
        return ctrl.Delete(command.path, command.flags);
    case CMD_DOWNLOAD:
        return ctrl.Download(command.localPath, command.path, command.flags);
    case CMD_UPLOAD:
        return ctrl.Upload(command.localPath, command.path, command.flags);
    case CMD_LIST:
        return ctrl.List(command.path, command.listArguments, command.flags);
    case CMD_MKDIR:
        return ctrl.MakeDir(command.path, command.flags);
    case CMD_QUIT:
        return ctrl.Quit();
    case CMD_RENAME:
        return ctrl.Rename(command.path, command.newName, command.flags);
    case CMD_PWD:
        return ctrl.Pwd();
    case CMD_REST:
        return ctrl.SendCommand("rest " + std::to_string(command.restOffset), 1);
    case CMD_CHMOD:
        return ctrl.Chmod(command.path, command.mode, command.flags);
    default:
        SessionMessageBox("Unimplemented command!", MB_OK | MB_ICONEXCLAMATION);
        return FTP_FAILED;
    }
}
