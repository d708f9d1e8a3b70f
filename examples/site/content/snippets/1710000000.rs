+++
description = "Read a whole file into a String"
filename = "read_file.rs"
+++

use std::fs;

fn main() -> std::io::Result<()> {
    let text = fs::read_to_string("notes.txt")?;
    println!("{} lines", text.lines().count());
    Ok(())
}
