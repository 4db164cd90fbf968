// A program that only exists to carry (or lack) a file version for the tests to read.
int main() {
    return 0;
}
