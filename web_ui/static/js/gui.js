// Shows the element with the id slave while the checkbox ctl is checked.
function doOnOff(ctl, slave) {
    document.getElementById(slave).style.display = ctl.checked ? "block" : "none";
}

// Shows the element with the id slave while the checkbox ctl is not checked.
function doRevOnOff(ctl, slave) {
    document.getElementById(slave).style.display = ctl.checked ? "none" : "block";
}
