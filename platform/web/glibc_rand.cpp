// rand() as glibc computes it, so that the loaders that scatter things with rand() (the mascot's
// pairs, the stem's offsets, the eyes' random layers) lay them out in the browser exactly as on
// the native build; emscripten's C library has another generator. glibc's default generator is
// an additive feedback over a ring of 31 words, each step adding the word three behind the front
// cursor into it; the ring is seeded by a Lehmer sequence and run 310 steps before the first
// output, which is the new word shifted right by one.
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int degree = 31;
constexpr int separation = 3;

// The ring and its two cursors as glibc keeps them: the front one is three ahead.
uint32_t words[degree];
int front, rear;
bool seeded;

uint32_t step()
{
    words[front] += words[rear];
    uint32_t value = words[front];
    front = (front + 1) % degree;
    rear = (rear + 1) % degree;
    return value;
}

void seed(unsigned int s)
{
    int32_t word = s == 0 ? 1 : int32_t(s);
    words[0] = uint32_t(word);
    for (int i = 1; i < degree; i++) {
        // 16807 · word mod (2^31 − 1), without overflow (Schrage's method), as glibc does it.
        int32_t hi = word / 127773, lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0)
            word += 2147483647;
        words[i] = uint32_t(word);
    }
    front = separation;
    rear = 0;
    for (int i = 0; i < 10 * degree; i++)
        step();
    seeded = true;
}

}  // namespace

extern "C" void srand(unsigned int s)
{
    seed(s);
}

extern "C" int rand(void)
{
    if (!seeded)
        seed(1);
    return int(step() >> 1);
}
