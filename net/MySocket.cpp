#include "net/MySocket.h"

CMySocket::~CMySocket()
{
    // Close while the member layers still exist; the base destructor runs after them.
    CEventSocket::Close();
}
