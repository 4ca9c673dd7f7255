; PUMPS: duty rotation of three pumps that keep a header pressure.
;
; Demand starts when the pressure falls below PUMPS.START_AT and ends when it
; rises above PUMPS.STOP_AT (a SEL of the two conditions by the current
; demand). The duty pump runs on demand; when the pressure stays more than
; 1 bar below the start pressure for 3 seconds (TON), the next pump assists.
; Every 5 seconds of duty running time (a timer var with timer_start,
; timer_value and timer_stop) the duty passes to the next pump. Each pump's
; run command is a MUX over its role: duty, assist or standby. A model of the
; header closes the loop: each running pump adds 0.6 bar per cycle, the
; consumers take 1 bar, and the pressure stays within 0 to 10 bar (LIMIT).
;
; Points: pumps.csv. Run: sicvm run pumps.sic --points pumps.csv
.program PUMPS 30
.stacks 8 16

.segment station
.var pressure  LREAL point=3001 load save
.var start_at  LREAL point=3002 load
.var stop_at   LREAL point=3003 load
.var run1      BOOL  point=3004 save
.var run2      BOOL  point=3005 save
.var run3      BOOL  point=3006 save
.var duty_no   DINT  point=3007 save          ; duty pump, 1 to 3
.var rotations DINT  point=3008 save
.var assist    BOOL  point=3009 save
.var duty      DINT                           ; duty pump, 0 to 2
.var demand    BOOL
.var start     BOOL
.var keep      BOOL
.var both      BOOL
.var deep      LREAL
.var runtime   TIME                           ; duty running time (a timer)
.var elapsed   TIME
.var role      DINT
.var pumps     LREAL

.segment blocks
.var ton_in  BOOL                             ; TON: IN, PT, Q, ET, preset, accumulator, M
.var ton_pt  TIME = T#3s
.var ton_q   BOOL
.var ton_et  TIME
.var ton_pv  TIME
.var ton_acc TIME
.var ton_m   BOOL

        set_ds    blocks
        call      @main
        ret

main:   load_points GDS                        ; read the points, advance the timers

; Demand with hysteresis: demand := SEL(demand, pressure < start_at, pressure <= stop_at).
        cmd_lreal pressure, start_at
        test_lt   start
        cmd_lreal pressure, stop_at
        test_le   keep
        push_vars demand, 1
        push_vars start, 1
        push_vars keep, 1
        call      @stdlib.1040 nin=3 nout=1     ; SEL (BOOL)
        pop_vars  demand, 1

; Assist after 3 s more than 1 bar below the start pressure.
        sub_lreal deep, start_at, LREAL#1
        cmd_lreal pressure, deep
        test_lt   blocks.ton_in
        call      @stdlib.4531 type=2 first=blocks.ton_in nin=2 nout=2   ; TON
        and_bool  assist, blocks.ton_q, demand

; Duty rotation after 5 s of running.
        if_ne     demand, @stopped
        timer_start elapsed, runtime
        cmd_time  elapsed, T#5s
        jmp_lt    @roles
        add_dint  duty, duty, 1
        mod_dint  duty, duty, 3
        add_dint  rotations, rotations, 1
        timer_stop elapsed, runtime             ; restarts from 0 at the next timer_start
        jmp       @roles
stopped:
        timer_stop elapsed, runtime
        mov       T#0s, runtime

; Run commands by role: (pump - duty + 3) mod 3 is 0 duty, 1 assist, 2 standby.
roles:  and_bool  both, demand, assist
        sub_dint  role, DINT#3, duty            ; pump 1 (number 0)
        mod_dint  role, role, 3
        set_ds    blocks                        ; a frame for the return address
        call      @select
        pop_vars  run1, 1
        sub_dint  role, DINT#4, duty            ; pump 2
        mod_dint  role, role, 3
        set_ds    blocks                        ; a frame for the return address
        call      @select
        pop_vars  run2, 1
        sub_dint  role, DINT#5, duty            ; pump 3
        mod_dint  role, role, 3
        set_ds    blocks                        ; a frame for the return address
        call      @select
        pop_vars  run3, 1
        add_dint  duty_no, duty, 1

; Header model: pressure := LIMIT(0, pressure + 0.6 * running pumps - 1, 10).
        bool_to_lreal pumps, run1
        bool_to_lreal deep, run2
        add_lreal pumps, pumps, deep
        bool_to_lreal deep, run3
        add_lreal pumps, pumps, deep
        mul_lreal pumps, pumps, LREAL#0.6
        sub_lreal pumps, pumps, LREAL#1
        add_lreal pressure, pressure, pumps
        push_const LREAL#0
        push_vars pressure, 1
        push_const LREAL#10
        call      @stdlib.1074 nin=3 nout=1     ; LIMIT (LREAL)
        pop_vars  pressure, 1

        save_points GDS
        ret

; Pushes MUX(role, demand, both, FALSE): the run command of a pump in that role.
select: push_vars role, 1
        push_vars demand, 1
        push_vars both, 1
        push_const FALSE
        call      @stdlib.1080 nin=4 nout=1     ; MUX (BOOL)
        ret
