; GAS_METER: fiscal metering of natural gas through an orifice run with
; flange tappings.
;
; Every cycle the program reads the gas temperature (K), the absolute
; pressure (MPa) and the differential pressure across the orifice (kPa),
; computes the compressibility coefficient K with GERG-91 (host library
; function 6101) and the flow with the general flow function (6106), and
; writes the volume flow at standard conditions Qc (m3/h), the mass flow Qm
; (kg/h) and the flow function's result code to points. The standard volume
; is integrated into the totaliser point (m3) over the cycle period, and the
; alarm point is raised while the result code is not 0. Below the low-flow
; cutoff (GAS.DP_CUTOFF, kPa) the flow is taken as zero: the flow function
; would give NaN flows for a zero differential pressure, which would spoil
; the totaliser for good.
;
; The flow function converts its length inputs from mm to m in place, so the
; program copies the run's dimensions into the call frame before every call.
;
; Points: gas_meter.csv. Run: sicvm run gas_meter.sic --points gas_meter.csv
.program GAS_METER 20
.stacks 8 16

.segment station
.var t          LREAL point=2001 load          ; gas temperature, K
.var p          LREAL point=2002 load          ; absolute pressure, MPa
.var dp_kpa     LREAL point=2003 load          ; differential pressure, kPa
.var qc         LREAL point=2004 save          ; volume flow at standard conditions, m3/h
.var qm         LREAL point=2005 save          ; mass flow, kg/h
.var code       DINT  point=2006 save          ; result code of the flow function
.var total      LREAL point=2007 load save     ; standard volume, m3
.var alarm      BOOL  point=2008 save          ; result code not 0
.var k          LREAL point=2009 save          ; compressibility coefficient
.var period_s   LREAL point=2010 load          ; cycle period, s
.var cutoff     LREAL point=2011 load          ; low-flow cutoff, kPa
; The metering run, in the units of its data sheet.
.var pipe_mm    LREAL = 200.0                  ; pipe inner diameter at 20 degC
.var orifice_mm LREAL = 100.0                  ; orifice diameter at 20 degC
.var rough_mm   LREAL = 0.1                    ; equivalent roughness of the pipe wall
.var edge_mm    LREAL = 0.04                   ; orifice inlet edge radius at inspection

; The call frames of the two gas functions, in the local segment.
.segment calc
; GasK_GERG91: T, p, rhoc, xa, xy -> code, K
.var k_t     LREAL
.var k_p     LREAL
.var k_rhoc  LREAL = 0.6799                    ; kg/m3 at 20 degC, 0.101325 MPa
.var k_xa    LREAL = 0.008858                  ; nitrogen
.var k_xy    LREAL = 0.000668                  ; carbon dioxide
.var k_code  DINT
.var k_k     LREAL
; GasFlowrate (6106): 22 inputs, 19 outputs
.var f_t     LREAL
.var f_p     LREAL
.var f_rhoc  LREAL = 0.6799
.var f_xa    LREAL = 0.008858
.var f_xy    LREAL = 0.000668
.var f_k     LREAL
.var f_dp    LREAL                             ; MPa
.var f_d20   LREAL                             ; mm, rewritten to m by the call
.var f_a0    LREAL = 11.1                      ; pipe: carbon steel
.var f_a1    LREAL = 7.7
.var f_a2    LREAL = -3.4
.var f_equiv BOOL = 1                          ; roughness is the equivalent one
.var f_rough LREAL                             ; mm, rewritten by the call
.var f_dev   DINT = 2                          ; orifice, flange tappings
.var f_o20   LREAL                             ; mm, rewritten to m by the call
.var f_b0    LREAL = 15.6                      ; orifice: stainless steel
.var f_b1    LREAL = 8.3
.var f_b2    LREAL = -6.5
.var f_rn    LREAL                             ; mm, rewritten to m by the call
.var f_mean  BOOL = 0                          ; edge radius at the end of the interval
.var f_tau   LREAL = 1.0                       ; years since the last inspection
.var f_limit DINT = 0                          ; iterate until it converges
.var f_code  DINT
.var f_qc    LREAL
.var f_qv    LREAL
.var f_qm    LREAL
.var f_rho   LREAL
.var f_mu    LREAL
.var f_kappa LREAL
.var f_aD    LREAL
.var f_D     LREAL
.var f_ad    LREAL
.var f_d     LREAL
.var f_beta  LREAL
.var f_E     LREAL
.var f_cd    LREAL
.var f_kp    LREAL
.var f_eps   LREAL
.var f_ksh   LREAL
.var f_re    LREAL
.var f_n     DINT
.var volume  LREAL                             ; standard volume of this cycle, m3

        set_ds    calc                         ; open a frame with the call frames as local segment
        call      @main
        ret

main:   load_points GDS

; Compressibility at the working state.
        mov       t, calc.k_t
        mov       p, calc.k_p
        call      @vellib.6101 type=2 first=calc.k_t nin=5 nout=2        ; GasK_GERG91
        mov       calc.k_k, k

; No flow below the cutoff.
        cmd_lreal dp_kpa, cutoff
        jmp_ge    @flowing
        mov       LREAL#0, qc
        mov       LREAL#0, qm
        mov       DINT#0, code
        jmp       @report

flowing:
        mov       t, calc.f_t
        mov       p, calc.f_p
        mov       calc.k_k, calc.f_k
        div_lreal calc.f_dp, dp_kpa, LREAL#1000
        mov       pipe_mm, calc.f_d20
        mov       rough_mm, calc.f_rough
        mov       orifice_mm, calc.f_o20
        mov       edge_mm, calc.f_rn
        call      @vellib.6106 type=2 first=calc.f_t nin=22 nout=19      ; GasFlowrate
        mov       calc.f_qc, qc
        mov       calc.f_qm, qm
        mov       calc.f_code, code

; Totaliser: Qc over one cycle period (a result code 2 leaves Qc at 0).
report: mul_lreal calc.volume, qc, period_s
        div_lreal calc.volume, calc.volume, LREAL#3600
        add_lreal total, total, calc.volume
        cmd_dint  code, DINT#0
        test_ne   alarm
        save_points GDS
        ret
