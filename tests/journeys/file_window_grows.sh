# The main window made larger and maximised: the lists grow, the buttons keep to their corners, everything else stays
# where it was designed; the next start on this computer opens at the size it was left at. At its designed size every
# control is where it always was.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
login() { printf 'window frmLogin\ntype frmLogin/Edit1 pw1\nkey frmLogin/Edit1 Return\nwindow frmMain\n'; }
journey shop <<STEPS
$(login)
geometry frmMain = 0,0,692,498
geometry ListView1 = 8,220,676,233
geometry Button4 = 612,460,72,24
geometry Button1 = 612,187,72,24
geometry ComboBox1 = 248,76,357,22
geometry Label25 = 630,14,52,14
resize frmMain 780 560
geometry frmMain = 0,0,780,560
geometry ListView1 = 8,220,764,295
geometry Button4 = 700,522,72,24
geometry Button1 = 700,187,72,24
geometry ComboBox1 = 248,76,357,22
geometry Label25 = 718,14,52,14
click Label2
geometry ListView2 = 8,81,764,435
geometry Button8 = 698,523,74,23
geometry ComboBox6 = 626,52,146,20
geometry DateTimePicker2 = 8,52,100,20
geometry ComboBoxCompare = 302,52,64,20
geometry EditFind = 398,52,186,20
key ComboBox6 End
geometry ChartRanking = 484,81,288,435
geometry ChartTrend = 8,81,472,435
close frmMain
STEPS
journey shop <<STEPS
$(login)
geometry frmMain = 0,0,780,560
geometry ListView1 = 8,220,764,295
maximize frmMain
geometry ListView1 !~ ",764,295"
close frmMain
STEPS
