#include "texts.h"

namespace kivo::info {

QStringList bannerLines() {
  return {
      QStringLiteral("      __   __     __                                       __          _____"),
      QStringLiteral("     / / _/_/    /_/                                     _/ /         / ___/"),
      QStringLiteral("    / /_/ /     __  __     __    ____      __     __   /  /         / /__"),
      QStringLiteral("   /  __ `\\    / /  \\ \\   / /   / __ \\     \\ \\   / /   / /          \\___ \\"),
      QStringLiteral("  / /   \\ \\  / /    \\ \\_/ /   / /_/ /      \\ \\_/ /   / /     __   ____/ /"),
      QStringLiteral(" /_/     \\_\\/_/      \\___/    \\____/        \\___/   /_/     /_/  /_____/"),
      QString(),
  };
}

QStringList aboutLines() {
  return {
      QStringLiteral("Kivo Workbench: trying to make your PSP life easier! With alot "),
      QStringLiteral("of functions, stuff and useless shit i'm trying to make an all-in-one "),
      QStringLiteral("application for windows."),
      QStringLiteral("It's freeware!"),
      QString(),
      QStringLiteral("If you found any bugs, or just wanna tell me something, please contact "),
      QStringLiteral("me on:"),
      QString(),
      QString(37, QLatin1Char(' ')) + QStringLiteral("--->> plovik.psp@mail.example <<---"),
      QString(),
      QStringLiteral("Thanks in advance for your comment :) "),
      QString(),
      QStringLiteral("I hope you like this software and I hope you'll use it very often. It was "),
      QStringLiteral("fun for me to develop and you're happy with it. So please DO NOT sell "),
      QStringLiteral("it, say you made it or whatever."),
      QString(),
      QStringLiteral("Enjoy your life,"),
      QStringLiteral("~Plovik (StickWizard)"),
  };
}

QStringList changelogLines() {
  return {
      QStringLiteral("Hi there!"),
      QString(),
      QStringLiteral("Thank you for using Kivo Workbench. I hope you will "),
      QStringLiteral("like it and use it more often :)"),
      QStringLiteral("Just experiment a bit and try some things out."),
      QString(),
      QStringLiteral("Changelog since version 1.0:"),
      QStringLiteral("- Rastle added - Decompress PSX eboots"),
      QStringLiteral("- Theme swapper added, 3 styles available"),
      QStringLiteral("- Kivo is movable! I finally managed to add alpha transparency!"),
      QStringLiteral("- Added huge text for 3.10OE users that the custom icons won't work "),
      QStringLiteral("(now don't complain about that..)"),
      QStringLiteral("- Save/Open dialogs added to font/topmenu outputs"),
      QStringLiteral("- keys.bin didn't copy well to the output directory. It's fixed now."),
      QStringLiteral("- New song on the about page! :D "),
      QStringLiteral("- It recognizes PRX files, so you don't need PlugPal anymore"),
      QStringLiteral("- Plugins page had a huge makeover. You can copy files, install, or just "),
      QStringLiteral("one of them etc"),
      QStringLiteral("- Form is a bit transparent if you move/deactivate it :)"),
      QStringLiteral("- Many bugfixes, slight changes etc that are not important to list here :)"),
      QStringLiteral("- Added a small easter egg if you have time enough or a decompiler ;-)"),
      QStringLiteral("- And even more, but I forgot that because it was a while ago :P"),
      QString(),
      QStringLiteral(" Anyway, just enjoy it!"),
      QStringLiteral(" ~Plovik"),
  };
}

QString creditsLine() {
  return QStringLiteral(
      "Many thanks to: Zorbek for ciso, Marrow and Tessel for the DAX converter, Quillon for the PS1 "
      "EBOOT tools, Nyx_Ferro for the USB and network host programs, Padawin for the keyboard "
      "redirectors, Sorrel and Brimble for testing, Lintwhistle for the font builder, "
      "everybody who reported bugs, and you for using Kivo!");
}

QStringList eggBoxes() {
  return {
      QStringLiteral("Before you click OK, read this:"),
      QStringLiteral("RULE 1: You MUST click with your mouse OK, or else im gonna punish you ;)"),
      QStringLiteral("Good. Now that you know the rules, let's have a little chat."),
      QStringLiteral("So... how are you doing today?"),
      QStringLiteral("Fine? Great, me too!"),
      QStringLiteral("You found my little easter egg, congratulations!"),
      QStringLiteral("I bet you double-clicked that label by accident."),
      QStringLiteral("Or did you read the changelog? ;)"),
      QStringLiteral("Anyway, you're here now."),
      QStringLiteral("Did you know there are a lot of these boxes?"),
      QStringLiteral("No? Well, now you do."),
      QStringLiteral("Just keep clicking OK. With your mouse. Remember RULE 1!"),
      QStringLiteral("But why?"),
      QStringLiteral("Because I said so :P"),
      QStringLiteral("But why?"),
      QStringLiteral("Stop asking that!"),
      QStringLiteral("..."),
      QStringLiteral("..."),
      QStringLiteral("..."),
      QStringLiteral("Okay, where was I?"),
      QStringLiteral("Oh right, the boxes."),
      QStringLiteral("You're doing great so far."),
      QStringLiteral("Are you still using your mouse?"),
      QStringLiteral("You'd better be."),
      QStringLiteral("Because if you pressed enter or space..."),
      QStringLiteral("...you know what you are:"),
      QStringLiteral("CHEATER!!!"),
      QStringLiteral("* Format C: /y *"),
      QStringLiteral("    .     "),
      QStringLiteral("   ...    "),
      QStringLiteral("  .....   "),
      QStringLiteral(" .......  "),
      QStringLiteral("......... "),
      QStringLiteral("Done, rebooting computer."),
      QStringLiteral("Just kidding :D"),
      QStringLiteral("Your files are fine, don't worry."),
      QStringLiteral("You should have seen your face!"),
      QStringLiteral("Well, I couldn't see it, but I imagine it was funny."),
      QStringLiteral("Let's talk about something else."),
      QStringLiteral("Did you convert some ISOs today?"),
      QStringLiteral("Made an EBOOT maybe?"),
      QStringLiteral("Installed a plugin or two?"),
      QStringLiteral("Changed your XMB icons?"),
      QStringLiteral("Kivo can do all of that, you know."),
      QStringLiteral("Okay, enough advertising."),
      QStringLiteral("How many boxes are left? Let me count..."),
      QStringLiteral("Too many to count. Keep clicking!"),
      QStringLiteral("Here's a joke: why did the PSP go to school?"),
      QStringLiteral("To improve its firmware! Haha!"),
      QStringLiteral("...not funny? Okay."),
      QStringLiteral("Tough crowd."),
      QStringLiteral("I'll try another one."),
      QStringLiteral("What do you call a UMD that sings? A Universal Music Disc!"),
      QStringLiteral("Still nothing? Wow."),
      QStringLiteral("Okay, no more jokes, I promise."),
      QStringLiteral("Are your fingers tired yet?"),
      QStringLiteral("Take a break if you need one."),
      QStringLiteral("I'll wait."),
      QStringLiteral("Back? Good."),
      QStringLiteral("We're almost there."),
      QStringLiteral("Almost..."),
      QStringLiteral("Almost almost..."),
      QStringLiteral("Did I mention RULE 1?"),
      QStringLiteral("Of course I did. It was the second box."),
      QStringLiteral("Just making sure you didn't forget."),
      QStringLiteral("Alright, I think it's time to say goodbye."),
      QStringLiteral("It was nice chatting with you."),
      QStringLiteral("Even if you didn't say much."),
      QStringLiteral("Come back soon, okay?"),
      QStringLiteral("Cya..."),
      QStringLiteral("Cya..."),
      QStringLiteral("Really, cya now!"),
      QStringLiteral("Oh, one more thing:"),
      QStringLiteral("Byebye, dont forget to leave a comment!"),
  };
}

} // namespace kivo::info
