// A folder served over SFTP and mounted with sshfs across a slow link, for the scripts that try the
// real program on a network share: prints the mount point once mounted, and unmounts once its
// standard input closes. Usage: share_mount <served folder> <round trip in milliseconds>. Exits 77
// where this machine cannot make a share, saying why.

#include "delaying_proxy.h"
#include "sshfs_share.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: share_mount <served folder> <round trip in milliseconds>\n");
        return 2;
    }
    SshfsShare share(argv[1]);
    if (!share.whyNot().isEmpty()) {
        std::fprintf(stderr, "%s\n", share.whyNot().constData());
        return 77;
    }
    const Loopback::DelayingProxy proxy(share.port(), std::chrono::milliseconds(std::atoi(argv[2])) / 2);
    if (!share.mount(proxy.port())) {
        std::fprintf(stderr, "%s\n", share.whyNot().constData());
        return 1;
    }
    std::printf("%s\n", share.root().constData());
    std::fflush(stdout);
    char ignored = 0;
    while (::read(STDIN_FILENO, &ignored, 1) > 0) { }
    share.unmount();
    return 0;
}
