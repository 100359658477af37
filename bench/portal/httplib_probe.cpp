// A cpp-httplib server answering a fixed body, with the settings the portal would need
// (TCP_NODELAY, a pool of --threads workers). run-bench.sh measures it next to the portal
// to show why the portal has its own epoll loop: httplib holds a worker per keep-alive
// connection, so 64 connections on 2 workers wait in line.
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT THREADS BODYFILE\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int threads = std::atoi(argv[2]);
    std::ifstream in(argv[3], std::ios::binary);
    std::stringstream body;
    body << in.rdbuf();
    const std::string reply = body.str();

    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
    server.Get(R"(/.*)", [&reply](const httplib::Request &, httplib::Response &res) {
        res.set_content(reply, "text/plain; charset=utf-8");
    });
    std::printf("listening on http://127.0.0.1:%d/\n", port);
    std::fflush(stdout);
    return server.listen("127.0.0.1", port) ? 0 : 1;
}
