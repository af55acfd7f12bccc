/* The socket floor for bench/big_reply.sh: sends the request in a file to a
 * Unix socket and reads the reply in 1 MiB pieces into nothing, the least a
 * client can do with it.  usage: drain_reply SOCKET REQUEST_FILE */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static char piece[1 << 20];

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int request = open(argv[2], O_RDONLY);
  ssize_t length = request < 0 ? -1 : read(request, piece, sizeof piece);
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (length <= 0 || fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0 ||
      write(fd, piece, (size_t)length) != length) {
    perror("drain_reply");
    return 1;
  }
  ssize_t got;
  while ((got = read(fd, piece, sizeof piece)) > 0) {
  }
  return got < 0;
}
