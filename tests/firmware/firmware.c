/* Test firmware for the mps2-an385 board: greets on UART0 and through semihosting, then counts
   in a RAM word at 0x20000000 and prints "tick N" through the hook at 0x400 every 1024 counts.
   Run it only where semihosting is on (the back-end's QEMU): elsewhere its bkpt stops the core. */
#include <stdint.h>

#define UART0_DATA (*(volatile uint32_t*)0x40004000u)
#define UART0_STATE (*(volatile uint32_t*)0x40004004u)
#define UART0_CTRL (*(volatile uint32_t*)0x40004008u)
#define UART0_BAUDDIV (*(volatile uint32_t*)0x40004010u)
#define UART_TX_FULL 1u
#define UART_TX_ENABLE 1u

#define SPIN_PER_COUNT 20000
#define COUNTS_PER_TICK 1024

__attribute__((section(".counter"))) volatile uint32_t tick_count;
extern uint32_t __bss_start, __bss_end, __stack_top;

void reset_handler(void);

static void fault_handler(void)
{
    for (;;) {
    }
}

__attribute__((section(".vectors"), used)) static const void* const vectors[16] = {
    &__stack_top, (void*)reset_handler, (void*)fault_handler, (void*)fault_handler,
    (void*)fault_handler, (void*)fault_handler, (void*)fault_handler,
};

static void put_char(char c)
{
    while (UART0_STATE & UART_TX_FULL) {
    }
    UART0_DATA = (uint32_t)c;
}

static void put_text(const char* text)
{
    while (*text)
        put_char(*text++);
}

static void put_decimal(uint32_t value)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    while (count)
        put_char(digits[--count]);
}

/* SYS_WRITE0 to the debugger's host: QEMU started with semihosting prints it. */
static void semihosting_write(const char* text)
{
    register uint32_t operation __asm__("r0") = 0x04;
    register const char* argument __asm__("r1") = text;
    __asm__ volatile("bkpt 0xab" : "+r"(operation) : "r"(argument) : "memory");
}

/* A breakpoint target at a known address. */
__attribute__((section(".text.on_tick"), noinline, used)) void on_tick(uint32_t count)
{
    put_text("tick ");
    put_decimal(count);
    put_char('\n');
}

void reset_handler(void)
{
    for (uint32_t* word = &__bss_start; word < &__bss_end; ++word)
        *word = 0;
    tick_count = 0;
    UART0_BAUDDIV = 16;
    UART0_CTRL = UART_TX_ENABLE;
    put_text("hilcore test firmware ready\n");
    semihosting_write("hilcore test firmware: semihosting works\n");
    for (;;) {
        for (volatile int spin = 0; spin < SPIN_PER_COUNT; ++spin) {
        }
        ++tick_count;
        if (tick_count % COUNTS_PER_TICK == 0)
            on_tick(tick_count);
    }
}
