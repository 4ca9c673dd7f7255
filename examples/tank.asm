; TANK: level control of a tank with hysteresis and a delayed high-level alarm.
;
; The inlet valve opens when the level falls below TANK.LOW and closes when it
; rises above TANK.HIGH. When the level stays above TANK.ALARM_LIMIT for 2
; seconds (a TON timer), TANK.ALARM is raised; it drops as soon as the level
; is back under the limit. A model of the tank closes the loop: the open inlet
; adds 4 % per cycle, TANK.OUTFLOW takes its share every cycle, and the level
; stays within 0 to 100 % (LIMIT).
;
; Points: tank.csv. Run: sicvm run tank.sic --points tank.csv
.program TANK 10
.stacks 8 16

.segment plant
.var level        LREAL point=1001 load save     ; %
.var inlet        BOOL  point=1002 save          ; valve command
.var low          LREAL point=1003 load          ; open below
.var high         LREAL point=1004 load          ; close above
.var alarm_limit  LREAL point=1005 load
.var alarm        BOOL  point=1006 save
.var outflow      LREAL point=1007 load          ; % per cycle
.var flow         LREAL                          ; net change this cycle

; The instance data of the function blocks: the program runs with this
; segment as its local segment.
.segment blocks
.var ton_in  BOOL                                ; TON: IN, PT, Q, ET, preset, accumulator, M
.var ton_pt  TIME = T#2s
.var ton_q   BOOL
.var ton_et  TIME
.var ton_pv  TIME
.var ton_acc TIME
.var ton_m   BOOL

        set_ds    blocks                         ; open a frame with the blocks as local segment
        call      @main
        ret

main:   load_points GDS                          ; read the points, advance the timers

; Hysteresis: open below low, close above high, otherwise keep the valve.
        cmd_lreal level, low
        jmp_ge    @not_low
        mov       TRUE, inlet
not_low:
        cmd_lreal level, high
        jmp_le    @alarm_delay
        mov       FALSE, inlet

; Alarm after 2 s above the limit.
alarm_delay:
        cmd_lreal level, alarm_limit
        test_gt   blocks.ton_in
        call      @stdlib.4531 type=2 first=blocks.ton_in nin=2 nout=2   ; TON
        mov       blocks.ton_q, alarm

; Tank model: level := LIMIT(0, level + inflow - outflow, 100).
        mov       LREAL#0, flow
        if_ne     inlet, @closed
        mov       LREAL#4, flow
closed: sub_lreal flow, flow, outflow
        add_lreal level, level, flow
        push_const LREAL#0
        push_vars level, 1
        push_const LREAL#100
        call      @stdlib.1074 nin=3 nout=1                              ; LIMIT (LREAL)
        pop_vars  level, 1

        save_points GDS                          ; write level, inlet and alarm
        ret
