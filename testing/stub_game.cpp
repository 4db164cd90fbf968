// Stands in for the game in tests: runs until it is killed, or for a minute at most.
#include <chrono>
#include <thread>

int main() {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}
