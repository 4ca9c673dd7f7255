; SHIFT_REPORT: the daily production report of a line whose report day runs
; from 06:00 to 06:00 local time.
;
; Each cycle the line's counter goes up by the items made since the last
; cycle (a model of the line: REPORT.RATE items per cycle). TODAY is the
; count since the report day began and YESTERDAY the whole previous report
; day. When the clock (DtNow) reaches the end of the report day, the day is
; closed: its total becomes YESTERDAY, the counter at that moment is the new
; day's start, and the next end is the first 06:00 after now
; (DtReportDayNext). DAY_START and DAY_END are points too, so a restart goes
; on with the report day under way; DAY_END 0 means not yet known (the first
; cycle after commissioning starts the day then). DAYS counts the report
; days since commissioning (DtReportDaysCount) and WEEKEND is TRUE on local
; Saturdays and Sundays (DtDayOfWeek). The calendar follows the library's
; time zone: run it with --tz Europe/Berlin, for instance.
;
; Points: shift_report.csv. Run:
;   sicvm run shift_report.sic --points shift_report.csv --tz Europe/Berlin
.program SHIFT_REPORT 40
.stacks 8 16

.segment line
.var counter      DINT  point=4001 load save   ; items made since the counter was installed
.var rate         DINT  point=4002 load        ; items per cycle (the line model)
.var today        DINT  point=4003 save        ; items of the report day under way
.var yesterday    DINT  point=4004 save        ; items of the previous report day
.var day_start    DINT  point=4005 load save   ; the counter when the report day began
.var day_end      LREAL point=4006 load save   ; the report day's end, DT days (0: not known)
.var commissioned LREAL point=4007 load        ; commissioning date, DT days
.var days         DINT  point=4008 save        ; report days since commissioning
.var weekend      BOOL  point=4009 save        ; local Saturday or Sunday
.var closed       DINT  point=4010 save        ; report days closed by this program
.var now          DT
.var end_dt       DT
.var since        DT
.var weekday      DINT

        set_ds    line                            ; a frame for each in-code call
        call      @main
        ret

main:   load_points GDS
        add_dint  counter, counter, rate          ; the line model

        call      @vellib.6050 nin=0 nout=1       ; DtNow
        pop_vars  now, 1

; The first cycle starts the report day under way.
        cmd_lreal day_end, LREAL#0
        jmp_ne    @running
        mov       counter, day_start
        set_ds    line
        call      @next_end

; Close the report day when its end has come.
running:
        lreal_to_dt end_dt, day_end
        cmd_dt    now, end_dt
        jmp_lt    @report
        sub_dint  yesterday, counter, day_start
        mov       counter, day_start
        add_dint  closed, closed, 1
        set_ds    line
        call      @next_end

report: sub_dint  today, counter, day_start

        lreal_to_dt since, commissioned
        push_vars since, 1
        push_vars now, 1
        push_const DINT#6
        push_const DINT#0
        call      @vellib.6081 nin=4 nout=1       ; DtReportDaysCount
        pop_vars  days, 1

        push_vars now, 1
        call      @vellib.6061 nin=1 nout=1       ; DtDayOfWeek: 1 Monday .. 7 Sunday
        pop_vars  weekday, 1
        cmd_dint  weekday, DINT#6
        test_ge   weekend

        save_points GDS
        ret

; day_end := the first 06:00 local time after now.
next_end:
        push_vars now, 1
        push_const DINT#6
        push_const DINT#0
        call      @vellib.6079 nin=3 nout=1       ; DtReportDayNext
        pop_vars  end_dt, 1
        dt_to_lreal day_end, end_dt
        ret
