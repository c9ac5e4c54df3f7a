#include <sys/socket.h>
#include <unistd.h>

#include "update/socket_calls.h"

namespace trident {

curl_socket_t openSocket(int family, int type, int protocol) {
  return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

void shutDownSocket(curl_socket_t socket) {
  ::shutdown(socket, SHUT_RDWR);
}

int closeSocket(curl_socket_t socket) {
  return ::close(socket);
}

}  // namespace trident
