; ALARMS: an alarm word with acknowledgement, a first-out alarm and a total
; kept in the non-volatile store.
;
; Five BOOL inputs are packed into one word (PackBits16; alarm 1 is bit 0).
; An alarm that rises (active now, not in the previous cycle) latches its
; bit in ALARMS.WORD (SetBit16) and adds one to ALARMS.TOTAL; the first alarm
; to latch while the word was clear becomes the first-out alarm
; (ALARMS.FIRST_OUT, its number 1 to 5; the lowest number when several rise
; in one cycle). The operator acknowledges by setting bits in ALARMS.ACK:
; each set bit clears the same bit of the word (ClearBit16), also while the
; alarm is still active (it latches again when it rises again), and the
; program sets ALARMS.ACK back to 0. When the word is clear the first-out
; number returns to 0.
;
; ALARMS.TOTAL survives restarts: the first cycle after a start reads it from
; the non-volatile store (ReadNvramValue of point index 9), and every change
; is written back (WriteNvramValue). While the store holds no total yet the
; program starts from 0. After a restart the alarms still active rise again,
; as they are announced anew.
;
; Points: alarms.csv. Run: sicvm run alarms.sic --points alarms.csv
; (the store is alarms.nvram beside the image unless --nvram names another).
.program ALARMS 40
.stacks 8 32

.segment alarms
.var in1      BOOL  point=4001 load          ; high pressure
.var in2      BOOL  point=4002 load          ; high temperature
.var in3      BOOL  point=4003 load          ; low level
.var in4      BOOL  point=4004 load          ; pump fault
.var in5      BOOL  point=4005 load          ; door open
.var word     INT   point=4006 save          ; latched alarms
.var ack      INT   point=4007 load save     ; bits to acknowledge
.var first    DINT  point=4008 save          ; first-out alarm, 0 = none
.var total    LREAL point=4009 save          ; alarms raised, kept in the store
.var raw      INT                            ; active alarms this cycle
.var last     INT                            ; active alarms the cycle before
.var bit      DINT
.var now      BOOL
.var before   BOOL
.var acked    BOOL
.var changed  BOOL                           ; total to be written to the store
.var ready    BOOL                           ; total read from the store
.var nv_done  BOOL                           ; ReadNvramValue: done, value
.var nv_total LREAL
.var code     DINT                           ; the machine's last error code

; The program's frame has data segment 0 itself as its local segment.
        set_ds    alarms
        call      @main
        ret

main:   load_points GDS

; First cycle: the total kept in the store (nothing stored yet: start from 0).
        if_eq     ready, @scan
        mov       TRUE, ready
        push_const DINT#9
        call      @vellib.6040 nin=1 nout=2      ; ReadNvramValue
        pop_vars  nv_total, 2                    ; nv_done, nv_total
        if_ne     nv_done, @empty
        mov       nv_total, total
        jmp       @scan
; A store that holds nothing yet means a first start, not a fault: its error 9
; is cleared. Any other error (7: the store failed) stays for the operator.
empty:  call      @vellib.6020 nin=0 nout=1      ; GetLastErrorCode
        pop_vars  code, 1
        cmd_dint  code, DINT#9
        jmp_ne    @scan
        call      @vellib.6022 nin=0 nout=1      ; ClearLastError
        pop_vars  code, 1

; The active alarms as a word: the five inputs and 11 FALSE.
scan:   push_vars in1, 5
        push_empty 11
        call      @vellib.6120 nin=16 nout=1     ; PackBits16
        pop_vars  raw, 1

        mov       DINT#0, bit
alarm:  push_vars raw, 1
        push_vars bit, 1
        call      @vellib.6110 nin=2 nout=1      ; GetBit16
        pop_vars  now, 1
        push_vars last, 1
        push_vars bit, 1
        call      @vellib.6110 nin=2 nout=1      ; GetBit16
        pop_vars  before, 1
        if_ne     now, @acknowledge              ; not active
        if_eq     before, @acknowledge           ; active already
        push_vars word, 1
        push_vars bit, 1
        call      @vellib.6112 nin=2 nout=1      ; SetBit16: latch
        pop_vars  word, 1
        add_lreal total, total, LREAL#1
        mov       TRUE, changed
        cmd_dint  first, DINT#0
        jmp_ne    @acknowledge
        add_dint  first, bit, DINT#1             ; the first since the word was clear

acknowledge:
        push_vars ack, 1
        push_vars bit, 1
        call      @vellib.6110 nin=2 nout=1      ; GetBit16
        pop_vars  acked, 1
        if_ne     acked, @next
        push_vars word, 1
        push_vars bit, 1
        call      @vellib.6114 nin=2 nout=1      ; ClearBit16
        pop_vars  word, 1
next:   add_dint  bit, bit, DINT#1
        cmd_dint  bit, DINT#5
        jmp_lt    @alarm

        mov       raw, last
        mov       INT#0, ack                     ; acknowledgements done
        cmd_int   word, INT#0
        jmp_ne    @keep
        mov       DINT#0, first                  ; all clear: no first-out alarm
keep:   if_ne     changed, @done
        mov       FALSE, changed
        push_const DINT#9
        push_vars total, 1
        call      @vellib.6042 nin=2 nout=1      ; WriteNvramValue
        pop_vars  nv_done, 1

done:   save_points GDS
        ret
