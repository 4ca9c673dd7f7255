; The COUNTER example: counts cycles in a global DINT, wrapping at 1000.
.program COUNTER 1
.segment globals
.var count DINT = 0

        add_dint  count, count, 1          ; count := count + 1
        cmd_dint  count, 1000
        jmp_lt    @done
        mov       DINT#0, count            ; wrap to 0
done:   ret
