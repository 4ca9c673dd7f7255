; BATCH: counts items into batches and reports weight statistics per batch.
;
; Each rising edge of the item sensor (R_TRIG) is one item: its weight goes
; into the samples array and a CTU counter counts it. When the count reaches
; BATCH.SIZE (at most 16), the batch is done: the heaviest (MAX), lightest
; (MIN) and average weight of its items go to the points, and the counter is
; reset in the next cycle. A model of the conveyor closes the loop: the
; sensor toggles every cycle, so an item arrives every second cycle, and the
; items weigh the values of the feed table in turn.
;
; Points: batch.csv. Run: sicvm run batch.sic --points batch.csv
.program BATCH 20
.stacks 8 16

.segment line
.var sensor   BOOL  point=2001 save            ; item sensor (from the conveyor model)
.var weight   LREAL point=2002 save            ; weight of the last item
.var size     DINT  point=2003 load            ; items per batch
.var count    DINT  point=2004 save
.var done     BOOL  point=2005 save
.var batches  DINT  point=2006 save
.var max      LREAL point=2007 save
.var min      LREAL point=2008 save
.var average  LREAL point=2009 save
.var reset    BOOL                            ; reset the counter this cycle
.var feed     DINT                            ; next entry of the feed table
.var i        DINT
.var x        LREAL
.var sum      LREAL
.var n        LREAL

.segment blocks
.var trig_clk BOOL                            ; R_TRIG: CLK, Q, M
.var trig_q   BOOL
.var trig_m   BOOL
.var ctu_cu   BOOL                            ; CTU (DINT): CU, R, PV, Q, CV, upper limit, M
.var ctu_r    BOOL
.var ctu_pv   DINT
.var ctu_q    BOOL
.var ctu_cv   DINT
.var ctu_max  DINT = 2147483647
.var ctu_m    BOOL

.array samples LREAL[16]                      ; weights of the current batch
.array feed_table LREAL[8] = 10.2, 9.8, 10.5, 9.9, 10.1, 10.4, 9.7, 10.0

        set_ds    blocks
        call      @main
        ret

main:   load_points GDS

; Conveyor model: the sensor toggles every cycle.
        not_bool  sensor, sensor

; A new item on each rising edge of the sensor.
        mov       sensor, blocks.trig_clk
        call      @stdlib.4510 type=2 first=blocks.trig_clk nin=1 nout=1   ; R_TRIG
        if_ne     blocks.trig_q, @count
        aget      weight, feed_table[feed]                               ; weigh it
        add_dint  feed, feed, 1
        mod_dint  feed, feed, 8
        aput      samples[blocks.ctu_cv], weight                         ; keep it

; Count it; reset after a complete batch.
count:  mov       blocks.trig_q, blocks.ctu_cu
        mov       reset, blocks.ctu_r
        mov       size, blocks.ctu_pv
        call      @stdlib.4521 type=2 first=blocks.ctu_cu nin=3 nout=2   ; CTU (DINT)
        mov       blocks.ctu_cv, count
        mov       blocks.ctu_q, done
        mov       FALSE, reset
        if_ne     done, @out

; The batch is complete: statistics over its samples.
        aget      max, samples[DINT#0]
        mov       max, min
        mov       max, sum
        mov       DINT#1, i
next:   cmd_dint  i, count
        jmp_ge    @stats
        aget      x, samples[i]
        push_vars max, 1
        push_vars x, 1
        call      @stdlib.1054 nin=2 nout=1                              ; MAX (LREAL)
        pop_vars  max, 1
        push_vars min, 1
        push_vars x, 1
        call      @stdlib.1064 nin=2 nout=1                              ; MIN (LREAL)
        pop_vars  min, 1
        add_lreal sum, sum, x
        add_dint  i, i, 1
        jmp       @next
stats:  dint_to_lreal n, count
        div_lreal average, sum, n
        add_dint  batches, batches, 1
        mov       TRUE, reset

out:    save_points GDS
        ret
